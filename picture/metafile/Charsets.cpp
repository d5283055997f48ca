#include "picture/metafile/Charsets.h"

#include <iconv.h>

#include <map>
#include <string>
#include <vector>

#include "picture/metafile/EmfRecords.h"

namespace {

const char* CodePage(std::uint8_t Charset) {
  switch (Charset) {
    case emf::EASTEUROPE_CHARSET: return "CP1250";
    case emf::RUSSIAN_CHARSET: return "CP1251";
    case emf::GREEK_CHARSET: return "CP1253";
    case emf::TURKISH_CHARSET: return "CP1254";
    case emf::HEBREW_CHARSET: return "CP1255";
    case emf::ARABIC_CHARSET: return "CP1256";
    case emf::BALTIC_CHARSET: return "CP1257";
    case emf::VIETNAMESE_CHARSET: return "CP1258";
    case emf::THAI_CHARSET: return "CP874";
    case emf::SHIFTJIS_CHARSET: return "CP932";
    case emf::GB2312_CHARSET: return "CP936";
    case emf::HANGUL_CHARSET: return "CP949";
    case emf::CHINESEBIG5_CHARSET: return "CP950";
    case emf::OEM_CHARSET: return "CP437";
    case emf::SYMBOL_CHARSET: return nullptr;
    default: return "CP1252";
  }
}

// One converter per code page, opened on first use and closed at exit;
// (iconv_t)-1 when the system lacks the code page.
class TConverters {
 public:
  ~TConverters() {
    for (auto& [Page, C] : FOpen)
      if (C != reinterpret_cast<iconv_t>(-1)) iconv_close(C);
  }
  iconv_t Get(const char* Page) {
    auto It = FOpen.find(Page);
    if (It == FOpen.end()) It = FOpen.emplace(Page, iconv_open("UTF-16LE", Page)).first;
    return It->second;
  }

 private:
  std::map<std::string, iconv_t> FOpen;
};

iconv_t Converter(const char* Page) {
  static TConverters Converters;
  return Converters.Get(Page);
}

}  // namespace

QString DecodeCharsetText(std::span<const std::uint8_t> Bytes, std::uint8_t Charset) {
  const char* Page = CodePage(Charset);
  const iconv_t C = Page ? Converter(Page) : reinterpret_cast<iconv_t>(-1);
  if (C == reinterpret_cast<iconv_t>(-1) || Bytes.empty())
    return QString::fromLatin1(reinterpret_cast<const char*>(Bytes.data()), static_cast<qsizetype>(Bytes.size()));
  iconv(C, nullptr, nullptr, nullptr, nullptr);
  std::vector<char> In(Bytes.begin(), Bytes.end());
  std::vector<char16_t> Out(Bytes.size() + 4);
  char* InP = In.data();
  std::size_t InLeft = In.size();
  char* OutP = reinterpret_cast<char*>(Out.data());
  std::size_t OutLeft = Out.size() * 2;
  while (InLeft > 0) {
    if (iconv(C, &InP, &InLeft, &OutP, &OutLeft) != static_cast<std::size_t>(-1)) break;
    // A byte the code page does not define becomes a replacement character.
    if (OutLeft < 2) break;
    *reinterpret_cast<char16_t*>(OutP) = u'\uFFFD';
    OutP += 2;
    OutLeft -= 2;
    ++InP;
    --InLeft;
  }
  const std::size_t Units = (Out.size() * 2 - OutLeft) / 2;
  return QString::fromUtf16(Out.data(), static_cast<qsizetype>(Units));
}
