#include <gtest/gtest.h>

#include <optional>

#include "picture/Bitmap.h"
#include "picture/avif/Avif.h"
#include "picture/heif/Heif.h"
#include "picture/FileFormats.h"
#include "picture/icon/Icon.h"
#include "picture/metafile/Metafile.h"

namespace {

// A graphic class known only by its run-time description: enough for the
// registry, which never creates it here.
const TMetaClass StandInJpeg{"TJPEGImage", TGraphic::StaticClass(), nullptr};
const TMetaClass StandInBitmap{"TOtherBitmap", TBitmap::StaticClass(), nullptr};

// Registers entries for the test's duration and removes them afterwards.
class TScopedFormat {
 public:
  TScopedFormat(const std::string& Ext, const std::string& Desc, TGraphicClass C) : FClass(C) {
    TFileFormatsList::Instance().RegisterFormat(Ext, Desc, C);
  }
  ~TScopedFormat() { TFileFormatsList::Instance().UnregisterClass(FClass); }

 private:
  TGraphicClass FClass;
};

// A class whose signature matches any bytes, as a weak signature might.
const TMetaClass Greedy{"TGreedy", TGraphic::StaticClass(), nullptr};
bool ClaimsAll(std::span<const std::uint8_t>) { return true; }

TEST(FileFormats, ContentDecidesOnlyWhereTheExtensionsClassRefusesTheBytes) {
  auto& L = TFileFormatsList::Instance();
  const std::vector<std::uint8_t> Bmp{'B', 'M', 0, 0}, Ico{0, 0, 1, 0, 1, 0}, Other{'x', 'y'};
  EXPECT_EQ(L.FindByContent("ico", Bmp), TBitmap::StaticClass());
  EXPECT_EQ(L.FindByContent("", Ico), TIcon::StaticClass());
  EXPECT_EQ(L.FindByContent("ico", Other), TIcon::StaticClass());
  EXPECT_EQ(L.FindByContent("xyz", Other), nullptr);
  {
    const TScopedFormat Newest("greedy", "Greedy", &Greedy);
    L.RegisterSignature(&Greedy, &ClaimsAll);
    EXPECT_EQ(L.FindByContent("BMP", Bmp), TBitmap::StaticClass());
    EXPECT_EQ(L.FindByContent("ico", Bmp), &Greedy);
  }
  EXPECT_EQ(L.FindBySignature(Other), nullptr);
}

TEST(FileFormats, IsoBrandsTellAvifFromHeif) {
  const struct {
    std::vector<std::string> Brands;  // major, then compatible
    bool Avif, Heif;
  } Cases[] = {
      {{"avif", "mif1", "miaf"}, true, false}, {{"mif1", "avif"}, true, false}, {{"heic", "mif1"}, false, true},
      {{"mif1", "heic"}, false, true},         {{"isom", "mp41"}, false, false},
  };
  for (const auto& C : Cases) {
    const auto Size = static_cast<std::uint8_t>(16 + 4 * (C.Brands.size() - 1));
    std::vector<std::uint8_t> Box{0, 0, 0, Size, 'f', 't', 'y', 'p'};
    for (std::size_t I = 0; I < C.Brands.size(); ++I) {
      Box.insert(Box.end(), C.Brands[I].begin(), C.Brands[I].end());
      if (I == 0) Box.insert(Box.end(), 4, 0);  // the minor version
    }
    EXPECT_EQ(TAVIFImage::HasSignature(Box), C.Avif) << C.Brands[0];
    EXPECT_EQ(THEIFImage::HasSignature(Box), C.Heif) << C.Brands[0];
  }
}

TEST(FileFormats, SearchesFromTheNewestEntryIgnoringLetterCase) {
  auto& L = TFileFormatsList::Instance();
  EXPECT_EQ(L.FindByExtension("BMP"), TBitmap::StaticClass());
  {
    const TScopedFormat Newer("BmP", "Other bitmaps", &StandInBitmap);
    EXPECT_EQ(L.Entries().back().Extension, "bmp");
    EXPECT_EQ(L.FindByExtension("bmp"), &StandInBitmap);
    EXPECT_EQ(L.FindByExtension("Bmp"), &StandInBitmap);
  }
  EXPECT_EQ(L.FindByExtension("bmp"), TBitmap::StaticClass());
  EXPECT_EQ(L.FindByExtension("png"), nullptr);
  EXPECT_EQ(L.FindByExtension(""), nullptr);
}

TEST(FileFormats, FindsClassNamesWithCaseSignificant) {
  auto& L = TFileFormatsList::Instance();
  EXPECT_EQ(L.FindByClassName("TIcon"), TIcon::StaticClass());
  EXPECT_EQ(L.FindByClassName("TMetafile"), TMetafile::StaticClass());
  EXPECT_EQ(L.FindByClassName("TBitmap"), TBitmap::StaticClass());
  EXPECT_EQ(L.FindByClassName("tbitmap"), nullptr);
  EXPECT_EQ(L.FindByClassName("TGraphic"), nullptr);
}

TEST(FileFormats, FilterOverAllGraphicsListsEveryFormatNewestFirst) {
  // The JPEG support registers its two entries at start-up; stand-ins take
  // their place where it is not linked in.
  std::optional<TScopedFormat> Jpeg, Jpg;
  if (!TFileFormatsList::Instance().FindByExtension("jpg")) {
    Jpeg.emplace("jpeg", "JPEG Image File", &StandInJpeg);
    Jpg.emplace("jpg", "JPEG Image File", &StandInJpeg);
  }
  EXPECT_EQ(TFileFormatsList::Instance().BuildPictureFilter(TGraphic::StaticClass()),
            "All (*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf)|*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf|"
            "JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|"
            "Icons (*.ico)|*.ico|Enhanced Metafiles (*.emf)|*.emf|Metafiles (*.wmf)|*.wmf");
}

TEST(FileFormats, FilterWithOneMatchingEntryHasNoAllEntry) {
  EXPECT_EQ(TFileFormatsList::Instance().BuildPictureFilter(TIcon::StaticClass()), "Icons (*.ico)|*.ico");
}

TEST(FileFormats, FilterLeavesOutEntriesWithoutExtension) {
  const TScopedFormat NoExtension("", "Nameless", &StandInBitmap);
  EXPECT_EQ(TFileFormatsList::Instance().BuildPictureFilter(TBitmap::StaticClass()), "Bitmaps (*.bmp)|*.bmp");
}

TEST(FileFormats, ExtensionIsTheTextAfterTheLastDotOfTheName) {
  const std::pair<const char*, const char*> Cases[] = {
      {"photo.JPG", "JPG"},           {"archive.tar.jpg", "jpg"},        {"name", ""},
      {"name.", ""},                  {"dir.d/file", ""},                {"C:\\dir.d\\file", ""},
      {"pic.bmp:stream", ""},         {"/home/u/.hidden/x.Ico", "Ico"},  {".bmp", "bmp"},
  };
  for (const auto& [Name, Ext] : Cases) EXPECT_EQ(FileNameExtension(Name), Ext) << Name;
}

}  // namespace
