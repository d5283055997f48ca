#include "picture/tiff/Tiff.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "picture/FileFormats.h"
#include "picture/avif/Avif.h"
#include "picture/heif/Heif.h"

#include "support/PhotoFiles.h"
#include "support/PhotoTesting.h"
#include "support/PhotoTiff.h"

namespace {

std::unique_ptr<TTIFFImage> Load(const std::vector<std::uint8_t>& Bytes) { return LoadPhoto<TTIFFImage>(Bytes); }

// Samples of the test pages: each pixel of a 20 x 12 page differs from its neighbours.
std::uint32_t Pattern(std::uint32_t X, std::uint32_t Y, int K) {
  switch (K) {
    case 0: return X * 12;
    case 1: return Y * 20;
    case 2: return (X + Y) * 5 + 30;
    default: return X < 10 ? 255 : 128;  // alpha, or black ink
  }
}
std::uint32_t Rgb(std::uint32_t R, std::uint32_t G, std::uint32_t B) { return R << 16 | G << 8 | B; }
std::uint32_t PatternRgb(std::uint32_t X, std::uint32_t Y) { return Rgb(Pattern(X, Y, 0), Pattern(X, Y, 1), Pattern(X, Y, 2)); }

TTiffPage Page(std::function<void(TTiffPage&)> Edit = {}) {
  TTiffPage P;
  P.Sample = Pattern;
  if (Edit) Edit(P);
  return P;
}

TEST(TiffImage, DecodesEveryLayoutPixelExact) {
  struct TCase {
    const char* Name;
    TTiffPage Page;
    std::function<std::uint32_t(std::uint32_t, std::uint32_t)> Expected;
  };
  auto Wide = [](std::uint32_t X, std::uint32_t Y, int K) { return Pattern(X, Y, K) * 257; };
  auto Gray = [](std::uint32_t X, std::uint32_t Y) { return Pattern(X, Y, 0) * 0x010101u; };
  auto Inks = [](std::uint32_t X, std::uint32_t Y) {
    // (255 - ink)(255 - black) / 255, rounded.
    const std::uint32_t K = 255 - Pattern(X, Y, 3);
    auto C = [K](std::uint32_t Ink) { return ((255 - Ink) * K + 127) / 255; };
    return Rgb(C(Pattern(X, Y, 0)), C(Pattern(X, Y, 1)), C(Pattern(X, Y, 2)));
  };
  const TCase Cases[] = {
      {"RGB, uncompressed", Page(), PatternRgb},
      {"RGB, LZW with a predictor", Page([](auto& P) { P.Compression = COMPRESSION_LZW; P.Predictor = 2; }), PatternRgb},
      {"RGB, deflate", Page([](auto& P) { P.Compression = COMPRESSION_ADOBE_DEFLATE; }), PatternRgb},
      {"RGB, PackBits, one strip", Page([](auto& P) { P.Compression = COMPRESSION_PACKBITS; P.RowsPerStrip = 12; }), PatternRgb},
      {"RGB, 16 x 16 tiles", Page([](auto& P) { P.TileSize = 16; }), PatternRgb},
      {"RGB, planes apart", Page([](auto& P) { P.Planar = PLANARCONFIG_SEPARATE; }), PatternRgb},
      {"RGB, 16 bits", Page([&](auto& P) { P.Bits = 16; P.Sample = Wide; }), PatternRgb},
      {"gray, 8 bits", Page([](auto& P) { P.Samples = 1; P.Photometric = PHOTOMETRIC_MINISBLACK; }), Gray},
      {"gray, 16 bits, LZW", Page([&](auto& P) { P.Samples = 1; P.Bits = 16; P.Photometric = PHOTOMETRIC_MINISBLACK; P.Compression = COMPRESSION_LZW; P.Sample = Wide; }), Gray},
      // ExtraSamples name an alpha that the samples have no room for: the colours, opaque.
      {"RGB, 3 samples, alpha named", Page([](auto& P) { P.Alpha = EXTRASAMPLE_ASSOCALPHA; }), PatternRgb},
      {"gray, 1 sample, alpha named", Page([](auto& P) { P.Samples = 1; P.Photometric = PHOTOMETRIC_MINISBLACK; P.Alpha = EXTRASAMPLE_UNASSALPHA; }), Gray},
      {"gray, 0 is white", Page([](auto& P) { P.Samples = 1; P.Photometric = PHOTOMETRIC_MINISWHITE; }),
       [](std::uint32_t X, std::uint32_t Y) { return (255 - Pattern(X, Y, 0)) * 0x010101u; }},
      {"bilevel", Page([](auto& P) { P.Samples = 1; P.Bits = 1; P.Photometric = PHOTOMETRIC_MINISBLACK; P.Sample = [](auto X, auto Y, int) { return (X + Y) & 1; }; }),
       [](std::uint32_t X, std::uint32_t Y) { return ((X + Y) & 1) ? 0xFFFFFFu : 0u; }},
      {"palette, 8 bits", Page([](auto& P) {
         P.Samples = 1;
         P.Photometric = PHOTOMETRIC_PALETTE;
         for (std::uint16_t I = 0; I < 256; ++I) P.Palette.insert(P.Palette.end(), {std::uint16_t(I * 257), std::uint16_t((255 - I) * 257), 0});
       }),
       [](std::uint32_t X, std::uint32_t Y) { return Rgb(Pattern(X, Y, 0), 255 - Pattern(X, Y, 0), 0); }},
      {"palette, 4 bits", Page([](auto& P) {
         P.Samples = 1;
         P.Bits = 4;
         P.Photometric = PHOTOMETRIC_PALETTE;
         P.Sample = [](auto X, auto, int) { return X % 16; };
         for (std::uint16_t I = 0; I < 16; ++I) P.Palette.insert(P.Palette.end(), {std::uint16_t(I * 17 * 257), 0, 0xFFFF});
       }),
       [](std::uint32_t X, std::uint32_t) { return Rgb(X % 16 * 17, 0, 255); }},
      {"CMYK, 8 bits", Page([](auto& P) { P.Samples = 4; P.Photometric = PHOTOMETRIC_SEPARATED; }), Inks},
      {"CMYK, 16 bits", Page([&](auto& P) { P.Samples = 4; P.Bits = 16; P.Photometric = PHOTOMETRIC_SEPARATED; P.Sample = Wide; }), Inks},
      {"CMYK, 16 bits rounded to 8", Page([&](auto& P) {
         P.Samples = 4;
         P.Bits = 16;
         P.Photometric = PHOTOMETRIC_SEPARATED;
         // Cyan 0x8000 and magenta 0x00FF are 128 and 1 rounded, 127 or 128 and 0 cut.
         P.Sample = [&](std::uint32_t X, std::uint32_t Y, int K) { return K == 0 ? 0x8000u : K == 1 ? 0x00FFu : K == 2 ? Wide(X, Y, K) : 0u; };
       }),
       [](std::uint32_t X, std::uint32_t Y) { return Rgb(127, 254, 255 - Pattern(X, Y, 2)); }},
      {"CMYK and alpha, 16 bits", Page([&](auto& P) {
         P.Samples = 5;
         P.Bits = 16;
         P.Photometric = PHOTOMETRIC_SEPARATED;
         P.Alpha = EXTRASAMPLE_UNASSALPHA;
         P.Sample = [&](std::uint32_t X, std::uint32_t Y, int K) { return K == 4 ? 0xFFFFu : Wide(X, Y, K); };
       }),
       Inks},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    std::unique_ptr<TTIFFImage> T;
    const std::string E = ErrorOf([&] { T = Load(MakeTiff(C.Page)); });
    ASSERT_EQ(E, "");
    ASSERT_EQ(T->Width(), 20);
    ASSERT_EQ(T->Height(), 12);
    const TBitmap* B = T->Bitmap();
    ASSERT_TRUE(B);
    int Wrong = 0;
    for (std::uint32_t Y = 0; Y < 12; ++Y)
      for (std::uint32_t X = 0; X < 20; ++X) {
        const std::uint32_t Got = B->View().PixelAt(static_cast<int>(X), static_cast<int>(Y));
        if (Got != C.Expected(X, Y) && ++Wrong <= 3)
          ADD_FAILURE() << std::hex << "pixel " << std::dec << X << "," << Y << std::hex << ": 0x" << Got
                        << ", want 0x" << C.Expected(X, Y);
      }
  }
}

TEST(TiffImage, AlphaIsBlendedOverWhatLiesBeneath) {
  // Left half opaque, right half alpha 128, drawn over white.
  auto Blend = [](std::uint32_t C, std::uint32_t A) { return (C * A + 255 * (255 - A) + 127) / 255; };
  for (std::uint16_t Kind : {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_ASSOCALPHA})
    for (std::uint32_t Tile : {0u, 16u}) {
      SCOPED_TRACE(::testing::Message() << (Kind == EXTRASAMPLE_UNASSALPHA ? "straight" : "premultiplied")
                                        << (Tile ? ", tiles" : ", strips"));
      auto T = Load(MakeTiff(Page([&](auto& P) {
        P.Samples = 4;
        P.Alpha = Kind;
        P.TileSize = Tile;
        if (Kind == EXTRASAMPLE_ASSOCALPHA)
          P.Sample = [](auto X, auto Y, int K) { return K == 3 ? Pattern(X, Y, 3) : Pattern(X, Y, K) * Pattern(X, Y, 3) / 255; };
      })));
      EXPECT_TRUE(T->HasAlpha());
      auto Drawn = DrawnOverWhite(*T);
      for (std::uint32_t X : {3u, 15u}) {
        const std::uint32_t A = Pattern(X, 5, 3);
        const std::uint32_t Got = Drawn->View().PixelAt(static_cast<int>(X), 5);
        for (int K = 0; K < 3; ++K) {
          const std::uint32_t Want = Blend(Pattern(X, 5, K), A);
          EXPECT_NEAR(static_cast<int>((Got >> (16 - 8 * K)) & 0xFF), static_cast<int>(Want), 2) << "x " << X << ", channel " << K;
        }
      }
    }
}

TEST(TiffImage, OrientationTagTurnsThePicture) {
  // Hand-worked: the stored corner at the displayed top-left, top-right, bottom-left and bottom-right.
  enum { TL, TR, BL, BR };
  const std::uint32_t Stored[4] = {PatternRgb(0, 0), PatternRgb(19, 0), PatternRgb(0, 11), PatternRgb(19, 11)};
  const int Expected[9][4] = {{},
                              {TL, TR, BL, BR}, {TR, TL, BR, BL}, {BR, BL, TR, TL}, {BL, BR, TL, TR},
                              {TL, BL, TR, BR}, {BL, TL, BR, TR}, {BR, TR, BL, TL}, {TR, BR, TL, BL}};
  for (std::uint32_t Tile : {0u, 16u})
    for (std::uint16_t O = 1; O <= 8; ++O) {
      SCOPED_TRACE(::testing::Message() << "orientation " << O << (Tile ? ", tiles" : ", strips"));
      auto T = Load(MakeTiff(Page([&](auto& P) {
        P.Orientation = O;
        P.TileSize = Tile;
      })));
      const int W = O >= 5 ? 12 : 20, H = O >= 5 ? 20 : 12;
      EXPECT_EQ(T->Width(), W);
      EXPECT_EQ(T->Height(), H);
      const TPixelView V = T->Bitmap()->View();
      ASSERT_EQ(V.Width, W);
      const TPoint Corners[4] = {{0, 0}, {W - 1, 0}, {0, H - 1}, {W - 1, H - 1}};
      for (int K = 0; K < 4; ++K) EXPECT_EQ(V.PixelAt(Corners[K].X, Corners[K].Y), Stored[Expected[O][K]]) << "corner " << K;
    }
  auto T = Load(MakeTiff(Page([](auto& P) { P.Orientation = 6; })));
  T->SetAutoOrientation(false);
  EXPECT_EQ(T->Width(), 20);
  EXPECT_EQ(T->Bitmap()->View().PixelAt(19, 0), PatternRgb(19, 0));
}

TEST(TiffImage, ProfileConvertsToSrgbAndFirstPageIsShown) {
  auto Red = [](std::uint32_t, std::uint32_t, int K) { return K == 0 ? 255u : 0u; };
  auto T = Load(MakeTiff({Page([&](auto& P) {
                            P.Sample = Red;
                            P.Profile = MakeSwappedPrimariesProfile();
                          }),
                          Page([](auto& P) { P.Width = 7; })}));
  EXPECT_EQ(T->Width(), 20);
  const std::uint32_t Got = T->Bitmap()->View().PixelAt(3, 3);
  EXPECT_LE(Got >> 16, 3u);           // little red
  EXPECT_GE(Got & 0xFF, 252u);        // shown as blue

  // Cyan ink through a profile in which cyan ink is yellow.
  auto Cmyk = Load(MakeTiff(Page([](auto& P) {
    P.Samples = 4;
    P.Photometric = PHOTOMETRIC_SEPARATED;
    P.Sample = [](auto, auto, int K) { return K == 0 ? 255u : 0u; };
    P.Profile = MakeSwappedInksProfile();
  })));
  EXPECT_TRUE(Near(Cmyk->Bitmap()->View().PixelAt(3, 3), 0xFFFF00, 24));
}

TEST(TiffImage, DamagedFilesFailCleanly) {
  std::vector<std::uint8_t> Good = MakeTiff(Page());
  std::vector<std::uint8_t> CutHeader(Good.begin(), Good.begin() + 6);
  std::vector<std::uint8_t> Png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13};
  std::vector<std::uint8_t> Huge = MakeTiff(Page([](auto& P) {
    P.Width = 1;
    P.Height = 1;
  }));
  // Width and height of the first directory rewritten to 70000 x 70000.
  auto Patch = [&](std::vector<std::uint8_t>& B) {
    const std::uint32_t Ifd = B[4] | B[5] << 8 | B[6] << 16 | static_cast<std::uint32_t>(B[7]) << 24;
    const int N = B[Ifd] | B[Ifd + 1] << 8;
    for (int I = 0; I < N; ++I) {
      std::uint8_t* E = &B[Ifd + 2 + 12 * I];
      const int Tag = E[0] | E[1] << 8;
      if (Tag != 256 && Tag != 257) continue;
      E[2] = 4;  // LONG
      E[3] = 0;
      const std::uint32_t V = 70000;
      std::memcpy(E + 8, &V, 4);
    }
  };
  Patch(Huge);
  struct TCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    const char* Begins;
  } Cases[] = {{"empty", {}, "TIFF image is not valid ("},
               {"PNG", Png, "TIFF image is not valid ("},
               {"header cut", CutHeader, "TIFF image is not valid ("},
               {"70000 x 70000", Huge, "TIFF image is not valid (picture too large)"}};
  for (const TCase& C : Cases) {
    auto T = Load(Good);
    const std::string E = ErrorOf([&] { T->LoadFromStream(*TMemoryStream::Over(C.Bytes)); });
    EXPECT_EQ(E.rfind(C.Begins, 0), 0u) << C.Name << ": " << E;
    EXPECT_EQ(T->Width(), 20) << C.Name;  // the graphic is as it was
  }
}

TEST(TiffImage, CutFileShowsWhatDecodedAndFailsOnce) {
  std::vector<std::uint8_t> Bytes = MakeTiff(Page([](auto& P) {
    P.Height = 40;
    P.RowsPerStrip = 4;
    P.Compression = COMPRESSION_LZW;
  }));
  // The strips lie before the directory: cutting after the first strips leaves
  // the directory unreadable, so the directory is moved first by writing the
  // file with its pixel data damaged instead: every byte of the later strips zeroed.
  std::uint32_t Ifd = Bytes[4] | Bytes[5] << 8 | Bytes[6] << 16 | static_cast<std::uint32_t>(Bytes[7]) << 24;
  const std::size_t Half = 8 + (Ifd - 8) / 2;
  std::fill(Bytes.begin() + static_cast<std::ptrdiff_t>(Half), Bytes.begin() + Ifd, 0xFF);
  auto T = Load(Bytes);
  std::vector<TProgressStage> Stages;
  T->OnProgress = [&](TObject*, TProgressStage S, std::uint8_t, bool, const TRect&, const std::string&) { Stages.push_back(S); };
  const std::string E = ErrorOf([&] { DrawnOverWhite(*T); });
  EXPECT_EQ(E.rfind("TIFF image is not valid (", 0), 0u) << E;
  EXPECT_EQ(ErrorOf([&] { DrawnOverWhite(*T); }), "");  // raised once
  EXPECT_EQ(Stages, (std::vector<TProgressStage>{psStarting, psEnding}));
  auto Drawn = DrawnOverWhite(*T);
  EXPECT_EQ(Drawn->View().PixelAt(5, 1), PatternRgb(5, 1));  // the first rows decoded
  EXPECT_EQ(Drawn->View().PixelAt(5, 39), 0xFFFFFFu);        // the rest shows the background
}

TEST(TiffImage, ProgressReportsBandsOfRows) {
  auto T = Load(MakeTiff(Page([](auto& P) {
    P.Height = 200;
    P.RowsPerStrip = 1;
  })));
  std::uint64_t Clock = 1000;
  T->SetTickSource([&] { return Clock += 600; });
  std::vector<std::pair<TProgressStage, TRect>> Events;
  T->OnProgress = [&](TObject* Sender, TProgressStage S, std::uint8_t, bool, const TRect& R, const std::string&) {
    EXPECT_EQ(Sender, T.get());
    Events.emplace_back(S, R);
  };
  DrawnOverWhite(*T);
  ASSERT_GE(Events.size(), 4u);
  EXPECT_EQ(Events.front().first, psStarting);
  EXPECT_EQ(Events.back().first, psEnding);
  // Running bands follow each other down the picture.
  std::int32_t Bottom = 0;
  for (std::size_t I = 1; I + 1 < Events.size(); ++I) {
    EXPECT_EQ(Events[I].first, psRunning);
    EXPECT_EQ(Events[I].second.Top, Bottom);
    Bottom = Events[I].second.Bottom;
  }
}

TEST(TiffImage, StoredFormAndCopiesKeepTheFile) {
  InitializeTiffSupport();
  const auto Bytes = MakeTiff(Page([](auto& P) { P.Orientation = 8; }));
  TPicture Pic;
  Pic.SetGraphic(Load(Bytes));
  TMemoryStream S;
  Pic.WriteStored(S);
  TPicture Back;
  S.SetPosition(0);
  Back.ReadStored(S);
  ASSERT_TRUE(Back.Graphic());
  EXPECT_EQ(Back.Graphic()->ClassName(), "TTIFFImage");
  EXPECT_EQ(Back.Width(), 12);
  EXPECT_EQ(Back.Height(), 20);
  TMemoryStream Again;
  Back.Graphic()->SaveToStream(Again);
  EXPECT_EQ(std::vector<std::uint8_t>(Again.Bytes().begin(), Again.Bytes().end()), Bytes);
  TPicture Copy;
  Copy.Assign(&Back);
  EXPECT_EQ(Copy.Width(), 12);
  EXPECT_EQ(ErrorOf([&] { Copy.Graphic()->SetWidth(3); }), "Cannot change the size of a TIFF image");
  FinalizeTiffSupport();
}

}  // namespace

namespace {

// The photographic formats in the registry: the dialog's filter, loading by
// extension, and a damaged file that keeps the picture as it was.
TEST(PhotoFormatsRegistry, FilterAndLoadingByExtension) {
  InitializeTiffSupport();
  InitializeAvifSupport();
  InitializeHeifSupport();
  const std::string Filter = TFileFormatsList::Instance().BuildPictureFilter(TGraphic::StaticClass());
  EXPECT_NE(Filter.find("All (*.heic;*.heif;*.avif;*.tif;*.tiff;"), std::string::npos) << Filter;
  EXPECT_NE(Filter.find("|HEIF Image File (*.heic)|*.heic|HEIF Image File (*.heif)|*.heif|AVIF Image File (*.avif)|*.avif|"),
            std::string::npos)
      << Filter;
  EXPECT_NE(Filter.find("|TIFF Image File (*.tif)|*.tif|TIFF Image File (*.tiff)|*.tiff|"), std::string::npos) << Filter;
  EXPECT_EQ(TFileFormatsList::Instance().FindByExtension("TIF"), TTIFFImage::StaticClass());

  const auto Dir = std::filesystem::temp_directory_path() / "kest_tiff_registry";
  std::filesystem::create_directories(Dir);
  auto Write = [&](const char* Name, const std::vector<std::uint8_t>& Bytes) {
    const std::string Path = (Dir / Name).string();
    std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
    return Path;
  };
  TPicture Pic;
  int Changes = 0;
  Pic.OnChange = [&](TObject*) { ++Changes; };
  Pic.LoadFile(Write("PHOTO.TIF", MakeTiff(Page())));
  EXPECT_EQ(Pic.Graphic()->ClassName(), "TTIFFImage");
  EXPECT_EQ(Changes, 1);
  const std::string E = ErrorOf([&] { Pic.LoadFile(Write("fake.tiff", {0x89, 'P', 'N', 'G', 13, 10, 26, 10})); });
  EXPECT_EQ(E.rfind("TIFF image is not valid (", 0), 0u) << E;
  EXPECT_EQ(Pic.Width(), 20);
  EXPECT_EQ(Changes, 1);
  std::filesystem::remove_all(Dir);
  FinalizeHeifSupport();
  FinalizeAvifSupport();
  FinalizeTiffSupport();
  EXPECT_EQ(TFileFormatsList::Instance().FindByExtension("tif"), nullptr);
}

}  // namespace
