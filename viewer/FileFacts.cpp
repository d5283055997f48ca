#include "viewer/FileFacts.h"

#include <cerrno>
#include <string_view>
#include <utility>

#include "picture/FileFormats.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/Exceptions.h"
#include "toolkit/SysUtils.h"

const char* const DisplayName = "TKestImage Demo";

namespace {

enum : int { FirstFactPanel = 2, SizePanel = FirstFactPanel, BytesPanel, PositionPanel };

std::string PictureSize(const TFileFacts& F) {
  return F.Width < 0 ? std::string() : Format("%d \u00D7 %d", {F.Width, F.Height});
}
std::string Position(const TFileFacts& F) { return Format("%d/%d", {F.Index + 1, F.Count}); }

}  // namespace

std::string WindowTitle(const TFileFacts& F) {
  if (F.Width < 0) return Format("%s (%s) - %s", {F.Name, Position(F), std::string(DisplayName)});
  return Format("%s (%s, %s) - %s", {F.Name, Position(F), PictureSize(F), std::string(DisplayName)});
}

std::string FileSizeText(std::int64_t Bytes) {
  if (Bytes < 1024) return Format("%d bytes", {static_cast<int>(Bytes)});
  const double K = static_cast<double>(Bytes) / 1024;
  if (K < 1024) return Format("%.0f KB", {K});
  if (K < 1024.0 * 1024) return Format("%.1f MB", {K / 1024});
  return Format("%.1f GB", {K / (1024.0 * 1024)});
}

void AddFactPanels(TStatusBar& Bar) {
  Bar.SetPanelCount(PositionPanel + 1);
  Bar.SetPanelWidth(1, 220);
  Bar.SetPanelWidth(SizePanel, 90);
  Bar.SetPanelWidth(BytesPanel, 70);
}

void ShowFacts(TStatusBar& Bar, const TFileFacts& F) {
  Bar.SetPanelText(SizePanel, PictureSize(F));
  Bar.SetPanelText(BytesPanel, F.Bytes < 0 ? std::string() : FileSizeText(F.Bytes));
  Bar.SetPanelText(PositionPanel, Position(F));
}

namespace {

// How the data of a class's files is named in a message.
std::string DataOf(TGraphicClass C) {
  static const std::pair<std::string_view, const char*> Names[] = {
      {"TIcon", "the icon's data"},      {"TBitmap", "the bitmap's data"},  {"TMetafile", "the metafile's data"},
      {"TJPEGImage", "the JPEG data"},   {"TPngImage", "the PNG data"},     {"TGifImage", "the GIF data"},
      {"TWebPImage", "the WebP data"},   {"TTIFFImage", "the TIFF data"},   {"TAVIFImage", "the AVIF data"},
      {"THEIFImage", "the HEIF data"}};
  for (const auto& [Class, Name] : Names)
    if (C && Class == C->Name) return Name;
  return "its data";
}

}  // namespace

std::string FileErrorText(const std::string& File, const Exception& E) {
  const std::string Name = "\"" + ExtractFileName(File) + "\"";
  std::string Own = E.Message();
  // The part's own message as a sentence in parentheses.
  if (!Own.empty() && static_cast<unsigned char>(Own.back()) > '.') Own += '.';
  std::string Plain;
  if (dynamic_cast<const EFOpenError*>(&E)) {
    Plain = "cannot be opened";
  } else if (dynamic_cast<const EReadError*>(&E)) {
    Plain = "is damaged: " + DataOf(FindClassOfFile(File)) + " ends early";
  } else if (const auto* Os = dynamic_cast<const EOSError*>(&E); Os && Os->ErrorCode() == ENOMEM) {
    Plain = "is too large for the memory there is";
  } else if (dynamic_cast<const EInvalidGraphic*>(&E)) {
    Plain = FindClassOfFile(File) ? "is not a picture" : "is not a picture of a kind this program reads";
  } else {
    Plain = "cannot be shown";
  }
  return Format("%s %s (%s)", {Name, Plain, Own});
}
