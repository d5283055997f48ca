#include "viewer/FileFacts.h"

#include "toolkit/ComCtrls.h"
#include "toolkit/SysUtils.h"

const char* const DisplayName = "TKestImage Demo";

namespace {

enum : int { FirstFactPanel = 2, SizePanel = FirstFactPanel, BytesPanel, PositionPanel };

std::string PictureSize(const TFileFacts& F) { return Format("%d \u00D7 %d", {F.Width, F.Height}); }
std::string Position(const TFileFacts& F) { return Format("%d/%d", {F.Index + 1, F.Count}); }

}  // namespace

std::string WindowTitle(const TFileFacts& F) {
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
