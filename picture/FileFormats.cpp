#include "picture/FileFormats.h"

#include "picture/Bitmap.h"
#include "picture/icon/Icon.h"
#include "picture/metafile/Metafile.h"
#include "toolkit/SysUtils.h"

TFileFormatsList& TFileFormatsList::Instance() {
  static TFileFormatsList List;
  return List;
}

TFileFormatsList::TFileFormatsList() {
  RegisterFormat("wmf", "Metafiles", TMetafile::StaticClass());
  RegisterFormat("emf", "Enhanced Metafiles", TMetafile::StaticClass());
  RegisterFormat("ico", "Icons", TIcon::StaticClass());
  RegisterFormat("bmp", "Bitmaps", TBitmap::StaticClass());
}

void TFileFormatsList::RegisterFormat(const std::string& Extension, const std::string& Description,
                                      TGraphicClass GraphicClass, int DescriptionResource) {
  FEntries.push_back({LowerCase(Extension), Description, GraphicClass, DescriptionResource});
}

void TFileFormatsList::UnregisterClass(TGraphicClass GraphicClass) {
  std::erase_if(FEntries, [GraphicClass](const TFileFormat& F) { return F.GraphicClass == GraphicClass; });
}

TGraphicClass TFileFormatsList::FindByExtension(const std::string& Extension) const {
  const std::string E = LowerCase(Extension);
  for (auto It = FEntries.rbegin(); It != FEntries.rend(); ++It)
    if (It->Extension == E) return It->GraphicClass;
  return nullptr;
}

TGraphicClass TFileFormatsList::FindByClassName(const std::string& Name) const {
  for (auto It = FEntries.rbegin(); It != FEntries.rend(); ++It)
    if (Name == It->GraphicClass->Name) return It->GraphicClass;
  return nullptr;
}

std::string TFileFormatsList::BuildPictureFilter(TGraphicClass BaseClass) const {
  std::string D, P;
  int N = 0;
  for (auto It = FEntries.rbegin(); It != FEntries.rend(); ++It) {
    if (!It->GraphicClass->InheritsFrom(BaseClass) || It->Extension.empty()) continue;
    if (N > 0) {
      D += "|";
      P += ";";
    }
    D = Format("%s%s (*.%s)|*.%2:s", {D, It->Description, It->Extension});
    P = Format("%s*.%s", {P, It->Extension});
    ++N;
  }
  if (N > 1) D = Format("%s (%s)|%1:s|%s", {"All", P, D});
  return D;
}

std::string FileNameExtension(const std::string& FileName) {
  const auto Dot = FileName.rfind('.');
  if (Dot == std::string::npos) return {};
  if (FileName.find_first_of("\\:/", Dot) != std::string::npos) return {};
  return FileName.substr(Dot + 1);
}
