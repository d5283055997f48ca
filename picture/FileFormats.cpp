#include "picture/FileFormats.h"

#include <algorithm>
#include <fstream>

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
  RegisterSignature(TMetafile::StaticClass(), &TMetafile::HasSignature);
  RegisterSignature(TIcon::StaticClass(), &TIcon::HasSignature);
  RegisterSignature(TBitmap::StaticClass(), &TBitmap::HasSignature);
}

void TFileFormatsList::RegisterFormat(const std::string& Extension, const std::string& Description,
                                      TGraphicClass GraphicClass, int DescriptionResource) {
  FEntries.push_back({LowerCase(Extension), Description, GraphicClass, DescriptionResource});
}

void TFileFormatsList::UnregisterClass(TGraphicClass GraphicClass) {
  std::erase_if(FEntries, [GraphicClass](const TFileFormat& F) { return F.GraphicClass == GraphicClass; });
  std::erase_if(FSignatures, [GraphicClass](const TSignature& S) { return S.GraphicClass == GraphicClass; });
}

void TFileFormatsList::RegisterSignature(TGraphicClass GraphicClass, TSignatureTest Test) {
  std::erase_if(FSignatures, [GraphicClass](const TSignature& S) { return S.GraphicClass == GraphicClass; });
  FSignatures.push_back({GraphicClass, Test});
}

TGraphicClass TFileFormatsList::FindBySignature(std::span<const std::uint8_t> Head) const {
  Head = Head.first(std::min(Head.size(), SignatureBytes));
  for (auto It = FSignatures.rbegin(); It != FSignatures.rend(); ++It)
    if (It->Test(Head)) return It->GraphicClass;
  return nullptr;
}

TGraphicClass TFileFormatsList::FindByContent(const std::string& Extension,
                                              std::span<const std::uint8_t> Head) const {
  const TGraphicClass Named = FindByExtension(Extension);
  if (Named) {
    const auto Own = std::find_if(FSignatures.begin(), FSignatures.end(),
                                  [Named](const TSignature& S) { return S.GraphicClass == Named; });
    if (Own == FSignatures.end() || Own->Test(Head.first(std::min(Head.size(), SignatureBytes)))) return Named;
  }
  const TGraphicClass ByContent = FindBySignature(Head);
  return ByContent ? ByContent : Named;
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

TGraphicClass FindClassOfFile(const std::string& FileName) {
  std::vector<std::uint8_t> Head(TFileFormatsList::SignatureBytes);
  std::ifstream In(FileName, std::ios::binary);
  In.read(reinterpret_cast<char*>(Head.data()), static_cast<std::streamsize>(Head.size()));
  Head.resize(In.bad() ? 0 : static_cast<std::size_t>(In.gcount()));
  return TFileFormatsList::Instance().FindByContent(FileNameExtension(FileName), Head);
}

bool HeadHas(std::span<const std::uint8_t> Head, std::size_t Offset, std::string_view Bytes) {
  return Offset <= Head.size() && Bytes.size() <= Head.size() - Offset &&
         std::equal(Bytes.begin(), Bytes.end(), Head.begin() + static_cast<std::ptrdiff_t>(Offset),
                    [](char C, std::uint8_t B) { return static_cast<std::uint8_t>(C) == B; });
}

bool HasIsoBrand(std::span<const std::uint8_t> Head, std::string_view Brand) {
  auto At = [Head](std::size_t Offset, std::string_view Text) { return HeadHas(Head, Offset, Text); };
  if (Head.size() < 16 || !At(4, "ftyp")) return false;
  const std::uint64_t BoxSize =
      std::uint64_t{Head[0]} << 24 | std::uint64_t{Head[1]} << 16 | std::uint64_t{Head[2]} << 8 | Head[3];
  if (At(8, Brand)) return true;
  // The compatible brands follow the minor version, up to the box's end.
  const std::size_t End = static_cast<std::size_t>(std::min<std::uint64_t>(BoxSize, Head.size()));
  for (std::size_t Offset = 16; Offset + 4 <= End; Offset += 4)
    if (At(Offset, Brand)) return true;
  return false;
}

std::string FileNameExtension(const std::string& FileName) {
  const auto Dot = FileName.rfind('.');
  if (Dot == std::string::npos) return {};
  if (FileName.find_first_of("\\:/", Dot) != std::string::npos) return {};
  return FileName.substr(Dot + 1);
}
