#include "viewer/Formats.h"

#include <algorithm>

#include "picture/decoding/BackgroundDecode.h"
#include "picture/Bitmap.h"
#include "picture/FileFormats.h"
#include "picture/avif/Avif.h"
#include "picture/gif/Gif.h"
#include "picture/heif/Heif.h"
#include "picture/jpeg/Jpeg.h"
#include "picture/png/Png.h"
#include "picture/tiff/Tiff.h"
#include "picture/webp/Webp.h"

namespace {

// Further names that files of these formats commonly carry, each registered
// once: files named so open, and the desktop entry may claim them.
void RegisterAliases() {
  TFileFormatsList& Formats = TFileFormatsList::Instance();
  const struct {
    const char* Extension;
    const char* Description;
    TGraphicClass Class;
  } Aliases[] = {
      {"jpe", "JPEG Image File", TJPEGImage::StaticClass()},
      {"jfif", "JPEG Image File", TJPEGImage::StaticClass()},
      {"dib", "Bitmaps", TBitmap::StaticClass()},
      {"tif", "TIFF Image File", TTIFFImage::StaticClass()},
      {"tiff", "TIFF Image File", TTIFFImage::StaticClass()},
      {"heif", "HEIF Image File", THEIFImage::StaticClass()},
  };
  for (const auto& A : Aliases)
    if (!Formats.FindByExtension(A.Extension)) Formats.RegisterFormat(A.Extension, A.Description, A.Class);
}

}  // namespace

void InitializePictureFormats() {
  InitializeJpegSupport();
  InitializePngSupport();
  InitializeGifSupport();
  InitializeWebpSupport();
  InitializeTiffSupport();
  InitializeAvifSupport();
  InitializeHeifSupport();
  RegisterAliases();
}

void FinalizePictureFormats() {
  // A decode abandoned while the format library held it may still run.
  FinishAbandonedDecodes();
  FinalizeHeifSupport();
  FinalizeAvifSupport();
  FinalizeTiffSupport();
  FinalizeWebpSupport();
  FinalizeGifSupport();
  FinalizePngSupport();
  FinalizeJpegSupport();
}

const std::vector<TExtensionMimeTypes>& ExtensionMimeTypes() {
  static const std::vector<TExtensionMimeTypes> Table = {
      {"bmp", {"image/bmp", "image/x-bmp", "image/x-ms-bmp"}},
      {"dib", {"image/bmp"}},
      {"rle", {"image/bmp"}},
      {"ico", {"image/vnd.microsoft.icon", "image/x-icon"}},
      {"cur", {"image/x-win-bitmap"}},
      {"emf", {"image/emf", "image/x-emf"}},
      {"wmf", {"image/wmf", "image/x-wmf"}},
      {"jpg", {"image/jpeg"}},
      {"jpeg", {"image/jpeg"}},
      {"jpe", {"image/jpeg"}},
      {"jfif", {"image/jpeg"}},
      {"png", {"image/png"}},
      {"apng", {"image/apng", "image/png"}},
      {"gif", {"image/gif"}},
      {"webp", {"image/webp"}},
      {"tif", {"image/tiff"}},
      {"tiff", {"image/tiff"}},
      {"avif", {"image/avif"}},
      {"heic", {"image/heic"}},
      {"heif", {"image/heif"}},
      {"hif", {"image/heif"}},
      {"jxl", {"image/jxl"}},
      {"tga", {"image/x-tga"}},
      {"pbm", {"image/x-portable-bitmap"}},
      {"pgm", {"image/x-portable-graymap"}},
      {"ppm", {"image/x-portable-pixmap"}},
      {"pnm", {"image/x-portable-anymap"}},
  };
  return Table;
}

std::vector<std::string> RegisteredMimeTypes(std::vector<std::string>& Missing) {
  std::vector<std::string> Types;
  for (const TFileFormat& F : TFileFormatsList::Instance().Entries()) {
    const auto& Table = ExtensionMimeTypes();
    const auto It = std::find_if(Table.begin(), Table.end(),
                                 [&](const TExtensionMimeTypes& E) { return E.Extension == F.Extension; });
    if (It == Table.end()) {
      Missing.push_back(F.Extension);
      continue;
    }
    for (std::string_view T : It->MimeTypes) Types.emplace_back(T);
  }
  std::sort(Types.begin(), Types.end());
  Types.erase(std::unique(Types.begin(), Types.end()), Types.end());
  return Types;
}
