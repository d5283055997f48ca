#include "picture/png/Png.h"

#include <gtest/gtest.h>

#include <cmath>

#include "picture/FileFormats.h"
#include "support/GraphicTests.h"
#include "support/PngFiles.h"

namespace {

struct TProgressRecord {
  TProgressStage Stage;
  int Percent;
  bool RedrawNow;
  TRect R;
  // The picture's pixel (5, 5) when the notification came.
  std::uint32_t Pixel55;
};

class PngTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializePngSupport(); }
  void TearDown() override { FinalizePngSupport(); }

  static std::unique_ptr<TPngImage> Load(const std::vector<std::uint8_t>& Bytes) { return LoadGraphic<TPngImage>(Bytes); }
  static std::uint32_t PixelOf(const TBitmap& B, int X, int Y) { return B.View().PixelAt(X, Y) & 0xFFFFFF; }

  std::uint64_t FClock = 1000;
  std::vector<TProgressRecord> FEvents;
  void Record(TPngImage& P, std::uint64_t Step) {
    P.SetTickSource([this, Step] { return FClock += Step; });
    P.OnProgress = [this, &P](TObject*, TProgressStage Stage, std::uint8_t Percent, bool Redraw, const TRect& R,
                              const std::string&) {
      const TBitmap* B = P.Decoded() ? P.Bitmap() : nullptr;
      const std::uint32_t Px = B && B->Width() > 5 && B->Height() > 5 ? B->View().PixelAt(5, 5) & 0xFFFFFF : 0;
      FEvents.push_back({Stage, Percent, Redraw, R, Px});
    };
  }
};

std::uint32_t Rgb(std::uint32_t R, std::uint32_t G, std::uint32_t B) { return R << 16 | G << 8 | B; }

// A sample at depth D that differs from pixel to pixel and channel to channel.
std::uint32_t Pattern(int X, int Y, int C, int Depth) {
  const std::uint32_t Max = (1u << Depth) - 1;
  return static_cast<std::uint32_t>(X * 37 + Y * 101 + C * 59 + (X * Y) * 13) % (Max + 1);
}

// Blends an 8-bit colour with alpha over a background channel, as drawing does.
int Blend(int C, int A, int Bg) { return (C * A + Bg * (255 - A) + 127) / 255; }

std::uint32_t Crc32(const std::uint8_t* P, std::size_t N) {
  std::uint32_t C = 0xFFFFFFFFu;
  for (std::size_t I = 0; I < N; ++I) {
    C ^= P[I];
    for (int K = 0; K < 8; ++K) C = C & 1 ? 0xEDB88320u ^ (C >> 1) : C >> 1;
  }
  return ~C;
}

// The bytes up to the given fraction of the data of the Nth chunk of the given type.
std::vector<std::uint8_t> CutInChunk(const std::vector<std::uint8_t>& Bytes, const char* Type, double Fraction,
                                     int Nth = 0) {
  std::size_t At = 8;
  while (At + 8 <= Bytes.size()) {
    const std::size_t Len = std::size_t{Bytes[At]} << 24 | Bytes[At + 1] << 16 | Bytes[At + 2] << 8 | Bytes[At + 3];
    if (std::memcmp(&Bytes[At + 4], Type, 4) == 0 && Nth-- == 0)
      return {Bytes.begin(), Bytes.begin() + static_cast<std::ptrdiff_t>(At + 8 + Len * Fraction)};
    At += 12 + Len;
  }
  return Bytes;
}

// The bytes with one byte changed at the given fraction of the data of the Nth chunk of the given type.
std::vector<std::uint8_t> DamagedChunk(std::vector<std::uint8_t> Bytes, const char* Type, double Fraction,
                                       int Nth = 0) {
  const auto Cut = CutInChunk(Bytes, Type, Fraction, Nth);
  Bytes[Cut.size()] ^= 0x55;
  return Bytes;
}

// The bytes with a chunk of the given type and data put in after the header chunk.
std::vector<std::uint8_t> WithChunkAfterHeader(std::vector<std::uint8_t> Bytes, const char* Type,
                                               std::vector<std::uint8_t> Data) {
  std::vector<std::uint8_t> Chunk{0, 0, 0, static_cast<std::uint8_t>(Data.size())};
  Chunk.insert(Chunk.end(), Type, Type + 4);
  Chunk.insert(Chunk.end(), Data.begin(), Data.end());
  const std::uint32_t Crc = Crc32(&Chunk[4], Chunk.size() - 4);
  for (int K = 3; K >= 0; --K) Chunk.push_back(static_cast<std::uint8_t>(Crc >> (8 * K)));
  Bytes.insert(Bytes.begin() + 33, Chunk.begin(), Chunk.end());
  return Bytes;
}

TEST_F(PngTest, DecodesEveryColourTypeAndDepthExactly) {
  struct TCase {
    const char* Name;
    int ColorType, Depth;
  } Cases[] = {
      {"gray 1", PNG_COLOR_TYPE_GRAY, 1},        {"gray 2", PNG_COLOR_TYPE_GRAY, 2},
      {"gray 4", PNG_COLOR_TYPE_GRAY, 4},        {"gray 8", PNG_COLOR_TYPE_GRAY, 8},
      {"gray 16", PNG_COLOR_TYPE_GRAY, 16},      {"RGB 8", PNG_COLOR_TYPE_RGB, 8},
      {"RGB 16", PNG_COLOR_TYPE_RGB, 16},        {"palette 1", PNG_COLOR_TYPE_PALETTE, 1},
      {"palette 2", PNG_COLOR_TYPE_PALETTE, 2},  {"palette 4", PNG_COLOR_TYPE_PALETTE, 4},
      {"palette 8", PNG_COLOR_TYPE_PALETTE, 8},  {"gray+alpha 8", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
      {"gray+alpha 16", PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {"RGBA 8", PNG_COLOR_TYPE_RGB_ALPHA, 8},
      {"RGBA 16", PNG_COLOR_TYPE_RGB_ALPHA, 16},
  };
  const TColor Background = static_cast<TColor>(0x1EC80A);  // red 10, green 200, blue 30
  const int Bg[3] = {10, 200, 30};
  for (const TCase& C : Cases) {
    for (bool Interlaced : {false, true}) {
      SCOPED_TRACE(std::string(C.Name) + (Interlaced ? " interlaced" : ""));
      TPngFileOptions O;
      O.Width = 19;
      O.Height = 13;
      O.ColorType = C.ColorType;
      O.BitDepth = C.Depth;
      O.Interlaced = Interlaced;
      O.Sample = [&](int X, int Y, int Ch) { return Pattern(X, Y, Ch, C.Depth); };
      if (C.ColorType == PNG_COLOR_TYPE_PALETTE)
        for (int I = 0; I < (1 << C.Depth); ++I)
          O.Palette.push_back(png_color{static_cast<png_byte>(I * 7), static_cast<png_byte>(255 - I), static_cast<png_byte>(I * 3)});
      auto P = Load(MakePng(O));
      EXPECT_EQ(P->Width(), 19);
      EXPECT_EQ(P->Height(), 13);
      const bool Alpha = C.ColorType & PNG_COLOR_MASK_ALPHA;
      EXPECT_EQ(P->Transparent(), Alpha);
      const auto B = DrawOver(*P, Background);
      const int Channels = PngChannels(C.ColorType);
      int Wrong = 0;
      for (int Y = 0; Y < 13; ++Y)
        for (int X = 0; X < 19; ++X) {
          int V[4];
          for (int Ch = 0; Ch < Channels; ++Ch) {
            const std::uint32_t S = Pattern(X, Y, Ch, C.Depth);
            // To 8 bits: the high byte of 16, low depths scaled up exactly.
            V[Ch] = C.Depth == 16 ? static_cast<int>(S >> 8) : static_cast<int>(S * 255 / ((1u << C.Depth) - 1));
          }
          int Color[3];
          if (C.ColorType == PNG_COLOR_TYPE_PALETTE) {
            const png_color& E = O.Palette[Pattern(X, Y, 0, C.Depth)];
            Color[0] = E.red, Color[1] = E.green, Color[2] = E.blue;
          } else if (Channels <= 2) {
            Color[0] = Color[1] = Color[2] = V[0];
          } else {
            Color[0] = V[0], Color[1] = V[1], Color[2] = V[2];
          }
          const int A = Alpha ? V[Channels - 1] : 255;
          const std::uint32_t Got = PixelOf(*B, X, Y);
          // The decoded pixels hold the colours times alpha, rounded.
          const std::uint32_t Stored = reinterpret_cast<const std::uint32_t*>(P->Bitmap()->ScanLine(Y))[X];
          for (int K = 0; K < 3; ++K) {
            const int G = static_cast<int>((Got >> (16 - 8 * K)) & 0xFF);
            // Premultiplying rounds once more than the reference blend.
            Wrong += std::abs(G - Blend(Color[K], A, Bg[K])) > (Alpha ? 1 : 0);
            Wrong += Alpha && static_cast<int>((Stored >> (16 - 8 * K)) & 0xFF) != (Color[K] * A + 127) / 255;
          }
        }
      EXPECT_EQ(Wrong, 0);
    }
  }
}

TEST_F(PngTest, TransparentColourChunksMakePixelsShowWhatIsBelow) {
  struct TCase {
    const char* Name;
    TPngFileOptions O;
  };
  TPngFileOptions Gray, Color, Palette;
  Gray.ColorType = PNG_COLOR_TYPE_GRAY;
  Gray.Sample = [](int X, int, int) { return X < 8 ? 77u : 200u; };
  Gray.KeyTransparent = true;
  Gray.Key.gray = 77;
  Color.Sample = [](int X, int, int C) { return X < 8 ? 0x40u + C : 0x90u; };
  Color.KeyTransparent = true;
  Color.Key.red = 0x40, Color.Key.green = 0x41, Color.Key.blue = 0x42;
  Palette.ColorType = PNG_COLOR_TYPE_PALETTE;
  Palette.Sample = [](int X, int, int) { return X < 8 ? 0u : 1u; };
  Palette.Palette = {{255, 0, 0}, {0, 0, 255}};
  Palette.PaletteAlpha = {0};  // entry 0 transparent, entry 1 opaque
  for (TPngFileOptions* O : {&Gray, &Color, &Palette}) {
    auto P = Load(MakePng(*O));
    EXPECT_TRUE(P->Transparent());
    const auto B = DrawOver(*P, clLime);
    EXPECT_EQ(PixelOf(*B, 2, 3), 0x00FF00u);  // left half: what is below
    EXPECT_NE(PixelOf(*B, 12, 3), 0x00FF00u);
  }
}

TEST_F(PngTest, FileGammaIsCorrectedUnlessTheFileIsSrgb) {
  TPngFileOptions O;
  O.ColorType = PNG_COLOR_TYPE_GRAY;
  O.Sample = [](int, int, int) { return 128u; };
  struct TCase {
    double Gamma;
    bool Srgb;
    int Expected;  // 255 * (128/255)^(1 / (gamma * 2.2))
  } Cases[] = {{0, false, 128}, {1 / 2.2, false, 128}, {1.0, false, 186}, {1.0, true, 128}};
  for (const TCase& C : Cases) {
    O.Gamma = C.Gamma;
    // libpng will not write a gamma that disagrees with sRGB: the chunk is put in by hand.
    auto P = Load(C.Srgb ? WithChunkAfterHeader(MakePng(O), "sRGB", {0}) : MakePng(O));
    const std::uint32_t Got = PixelOf(*DrawOver(*P, clWhite), 3, 3);
    EXPECT_NEAR(static_cast<int>(Got & 0xFF), C.Expected, 1) << C.Gamma << " " << C.Srgb;
  }
}

TEST_F(PngTest, InterlacedFilesShowEachPassWithProgress) {
  TPngFileOptions O;
  O.Width = 64;
  O.Height = 64;
  O.Interlaced = true;
  O.Sample = [](int X, int Y, int C) { return static_cast<std::uint32_t>((X * 3 + Y * 5 + C * 40) & 0xFF); };
  const auto Bytes = MakePng(O);
  for (bool Progressive : {true, false}) {
    SCOPED_TRACE(Progressive);
    FEvents.clear();
    auto P = Load(Bytes);
    P->SetProgressiveDisplay(Progressive);
    Record(*P, 500);  // every reading of the clock lets a notification through
    DrawOver(*P, clWhite);
    ASSERT_GE(FEvents.size(), 2u);
    EXPECT_EQ(FEvents.front().Stage, psStarting);
    EXPECT_EQ(FEvents.back().Stage, psEnding);
    EXPECT_EQ(FEvents.back().Percent, 100);
    int Passes = 0;
    for (std::size_t I = 1; I + 1 < FEvents.size(); ++I) {
      const TProgressRecord& E = FEvents[I];
      EXPECT_EQ(E.Stage, psRunning);
      EXPECT_GT(E.Percent, FEvents[I - 1].Percent);
      if (E.R == TRect{0, 0, 64, 64} && E.RedrawNow) {
        // After the first pass, pixel (5, 5) shows the pass's pixel (0, 0).
        if (Passes == 0 && Progressive) {
          EXPECT_EQ(E.Pixel55, Rgb(0, 40, 80));
        }
        ++Passes;
      }
    }
    // The six ends of passes before the last, each shown with the whole picture.
    if (Progressive) {
      EXPECT_EQ(Passes, 6);
    }
    EXPECT_EQ(PixelOf(*P->Bitmap(), 5, 5), Rgb(40, 80, 120));
  }
}

TEST_F(PngTest, AQuickDecodeReportsOnlyItsStartAndEnd) {
  TPngFileOptions O;
  O.Sample = [](int X, int, int) { return static_cast<std::uint32_t>(X); };
  auto P = Load(MakePng(O));
  Record(*P, 1);
  DrawOver(*P, clWhite);
  ASSERT_EQ(FEvents.size(), 2u);
  EXPECT_EQ(FEvents[0].Stage, psStarting);
  EXPECT_EQ(FEvents[1].Stage, psEnding);
  EXPECT_EQ(FEvents[1].Percent, 100);
}

TEST_F(PngTest, DamagedHeadersFailAtLoadLeavingTheGraphicAsItWas) {
  TPngFileOptions O;
  O.Sample = [](int, int, int) { return 9u; };
  const auto Good = MakePng(O);
  // The header of a 20000 x 20000 file: one made 20000 x 1, its height
  // changed and the chunk's check value made again.
  TPngFileOptions Wide = O;
  Wide.Width = 20000;
  Wide.Height = 1;
  auto Huge = CutInChunk(MakePng(Wide), "IDAT", 0);
  Huge[22] = 0x4E, Huge[23] = 0x20;
  const std::uint32_t Crc = Crc32(&Huge[12], 17);
  Huge[29] = static_cast<std::uint8_t>(Crc >> 24), Huge[30] = static_cast<std::uint8_t>(Crc >> 16);
  Huge[31] = static_cast<std::uint8_t>(Crc >> 8), Huge[32] = static_cast<std::uint8_t>(Crc);
  struct TCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    const char* Message;
  } Cases[] = {
      {"a JPEG file", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0}, "PNG image is not valid ("},
      {"zero-length file", {}, "PNG image is not valid ("},
      {"header chunk damaged", DamagedChunk(Good, "IHDR", 0.5), "PNG image is not valid ("},
      {"cut inside the signature", {Good.begin(), Good.begin() + 5}, "PNG image is not valid ("},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto P = Load(Good);
    const std::string E = ErrorOf([&] { P->LoadFromStream(*TMemoryStream::Over(C.Bytes)); });
    EXPECT_EQ(E.rfind(C.Message, 0), 0u) << E;
    EXPECT_EQ(P->Width(), 16);
  }
  // 400 million pixels are refused before anything is allocated.
  auto P = std::make_unique<TPngImage>();
  EXPECT_EQ(ErrorOf([&] { P->LoadFromStream(*TMemoryStream::Over(Huge)); }), "PNG image is too large (20000 x 20000)");
}

TEST_F(PngTest, CutAndDamagedFilesShowWhatDecodedAndFailOnce) {
  TPngFileOptions O;
  O.Width = 64;
  O.Height = 400;
  O.Compression = 0;  // stored blocks: a cut in the data is a cut in the rows
  O.Sample = [](int X, int Y, int C) { return static_cast<std::uint32_t>((X + Y + C) & 0x7F); };
  const auto Good = MakePng(O);
  struct TCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    bool Error;
  } Cases[] = {
      // libpng writes the pixel data in chunks of 8 KB: about 40 rows each.
      {"cut in the fifth chunk of pixel data", CutInChunk(Good, "IDAT", 0.5, 4), false},
      {"a damaged byte in the fifth chunk of pixel data", DamagedChunk(Good, "IDAT", 0.5, 4), true},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto P = Load(C.Bytes);
    FEvents.clear();
    Record(*P, 0);
    const std::string E = ErrorOf([&] { DrawOver(*P, clLime); });
    EXPECT_EQ(E.empty(), !C.Error) << E;
    if (C.Error) {
      EXPECT_EQ(E.rfind("PNG image is not valid (", 0), 0u);
    }
    ASSERT_EQ(FEvents.size(), 2u);
    EXPECT_EQ(FEvents.back().Percent, C.Error ? 0 : 100);
    // Raised once: later drawings show the same picture without an error.
    const auto B = DrawOver(*P, clLime);
    EXPECT_EQ(PixelOf(*B, 3, 10), Rgb(13, 14, 15));       // decoded rows
    EXPECT_EQ(PixelOf(*B, 3, 390), 0x00FF00u);            // the rest shows what is below
    EXPECT_TRUE(P->Transparent());
    EXPECT_EQ(P->Width(), 64);
    EXPECT_EQ(P->Height(), 400);
  }
}

// Cut in its first pass, an interlaced picture shows the 8 x 8 blocks of the
// rows that pass reached, and what is below under the rest.
TEST_F(PngTest, InterlacedFileCutInItsFirstPassShowsTheBlocksReached) {
  TPngFileOptions O;
  O.Width = 1024;
  O.Height = 400;
  O.Interlaced = true;
  O.Compression = 0;  // the first pass's 50 rows of 128 pixels: the first 19,250 bytes
  O.Sample = [](int X, int Y, int C) { return static_cast<std::uint32_t>((X + Y + C) & 0x7F); };
  auto P = Load(CutInChunk(MakePng(O), "IDAT", 0.5, 1));
  const auto B = DrawOver(*P, clLime);
  EXPECT_EQ(PixelOf(*B, 3, 10), Rgb(8, 9, 10));   // pixel (0, 8) of the first pass
  EXPECT_EQ(PixelOf(*B, 3, 390), 0x00FF00u);
}

TEST_F(PngTest, StoredFormAndCopiesKeepTheFile) {
  TPngFileOptions O;
  O.ColorType = PNG_COLOR_TYPE_RGB_ALPHA;
  O.Sample = [](int X, int Y, int C) { return static_cast<std::uint32_t>(C == 3 ? X * 16 : X + Y * 3 + C); };
  const auto Bytes = MakePng(O);
  TPicture A;
  A.SetGraphic(Load(Bytes));
  TMemoryStream S;
  A.WriteStored(S);
  const auto Stored = S.Bytes();
  ASSERT_EQ(Stored.size(), 1 + 9 + 4 + Bytes.size());
  EXPECT_EQ(std::string(Stored.begin() + 1, Stored.begin() + 10), "TPngImage");
  TPicture B;
  S.SetPosition(0);
  B.ReadStored(S);
  ASSERT_TRUE(B.Graphic() && B.Graphic()->Is<TPngImage>());
  TPicture C;
  C.CopyFrom(&B);
  for (TPicture* P : {&A, &B, &C}) {
    TMemoryStream Again;
    P->WriteStored(Again);
    EXPECT_TRUE(std::equal(Again.Bytes().begin(), Again.Bytes().end(), Stored.begin(), Stored.end()));
    EXPECT_EQ(PixelOf(*DrawOver(*P->Graphic(), clBlue), 5, 2), PixelOf(*DrawOver(*A.Graphic(), clBlue), 5, 2));
  }
  EXPECT_EQ(ErrorOf([&] { B.Graphic()->SetWidth(3); }), "Cannot change the size of a PNG image");
}

TEST_F(PngTest, LoadsByExtensionAndJoinsTheDialogFilter) {
  const std::string Filter = TFileFormatsList::Instance().BuildPictureFilter(TGraphic::StaticClass());
  EXPECT_EQ(Filter.rfind("All (*.png;", 0), 0u) << Filter;
  EXPECT_NE(Filter.find("|PNG Image File (*.png)|*.png|"), std::string::npos);
  EXPECT_EQ(TFileFormatsList::Instance().FindByExtension("PNG"), TPngImage::StaticClass());
}

}  // namespace
