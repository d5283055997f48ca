#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <QBuffer>
#include <QImage>

#include "picture/Bitmap.h"
#include "picture/BmpBuilder.h"
#include "picture/icon/IcoImage.h"
#include "picture/icon/Icon.h"
#include "support/PngFiles.h"
#include "toolkit/Exceptions.h"

using namespace bmptest;

namespace {

constexpr std::uint32_t Background = 0xFF00FF;

std::unique_ptr<TIcon> LoadIcon(const TBytes& Bytes) {
  TMemoryStream S(Bytes);
  auto I = std::make_unique<TIcon>();
  I->LoadFromStream(S);
  return I;
}

// A W x H surface in the background colour with the icon drawn into R.
std::unique_ptr<TBitmap> DrawOnSurface(TIcon& Icon, const TRect& R, std::int32_t W = 48, std::int32_t H = 48) {
  auto B = std::make_unique<TBitmap>(W, H);
  B->Canvas().Brush().Color = PixelToColor(Background);
  B->Canvas().FillRect(TRect{0, 0, W, H});
  B->Canvas().StretchDraw(R, &Icon);
  return B;
}

TBytes PngOf(const QImage& Image) {
  QByteArray Data;
  QBuffer Buffer(&Data);
  Buffer.open(QIODevice::WriteOnly);
  Image.save(&Buffer, "PNG");
  return TBytes(Data.begin(), Data.end());
}

// Restores the screen depth that a test changes.
class IconTest : public testing::Test {
 protected:
  void TearDown() override { DisplayInfo() = FSaved; }
  TDisplayInfo FSaved = DisplayInfo();
};

// ---------------------------------------------------------------------------
// The image choice: each entry is a solid image of its own colour, so the
// colour drawn names the entry chosen.

struct TEntrySpec {
  int Width, Height;
  std::uint16_t Colors;
};

struct TChoiceCase {
  const char* Name;
  std::vector<TEntrySpec> Entries;
  int ScreenBits;
  std::size_t Expected;
};

class IconChoice : public IconTest, public testing::WithParamInterface<TChoiceCase> {};

TEST_P(IconChoice, ChoosesTheEntryThatSuitsTheScreen) {
  const TChoiceCase& C = GetParam();
  DisplayInfo().BitsPerPixel = C.ScreenBits;
  std::vector<TIcoEntry> Entries;
  for (std::size_t I = 0; I < C.Entries.size(); ++I) {
    const TEntrySpec& S = C.Entries[I];
    Entries.push_back({S.Width, S.Height, S.Colors, SolidIconDib(S.Width, S.Height, 0x102030u * (I + 1)), {}, {}});
  }
  auto Icon = LoadIcon(IcoFile(Entries));
  const auto B = DrawOnSurface(*Icon, TRect{0, 0, 1, 1});
  EXPECT_EQ(B->View().PixelAt(0, 0), 0x102030u * (C.Expected + 1));
  EXPECT_EQ(Icon->Width(), C.Entries[C.Expected].Width);
  EXPECT_EQ(Icon->Height(), C.Entries[C.Expected].Height);
}

INSTANTIATE_TEST_SUITE_P(
    Icon, IconChoice,
    testing::Values(TChoiceCase{"Wanted32After16", {{16, 16, 0}, {32, 32, 0}}, 32, 1},
                    TChoiceCase{"Wanted32Before16", {{32, 32, 0}, {16, 16, 0}}, 32, 0},
                    TChoiceCase{"Smaller16Before48", {{16, 16, 0}, {48, 48, 0}}, 32, 0},
                    TChoiceCase{"Smaller16After48", {{48, 48, 0}, {16, 16, 0}}, 32, 1},
                    TChoiceCase{"LaterEqualEntryWins", {{32, 32, 0}, {32, 32, 0}}, 32, 1},
                    TChoiceCase{"MostColorsAnEightBitScreenShows", {{32, 32, 16}, {32, 32, 256}, {32, 32, 0}}, 8, 1},
                    TChoiceCase{"UnlimitedColorsOnADeepScreen", {{32, 32, 16}, {32, 32, 256}, {32, 32, 0}}, 32, 2},
                    TChoiceCase{"FewerColorsNeverReplace", {{32, 32, 256}, {32, 32, 16}}, 32, 0},
                    TChoiceCase{"FirstEntryWhenNothingFits", {{32, 32, 0}, {16, 16, 256}}, 4, 0},
                    TChoiceCase{"SizeByteZeroMeans256", {{256, 256, 0}, {48, 48, 0}}, 32, 1}),
    [](const testing::TestParamInfo<TChoiceCase>& I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// Each depth with its mask, drawn unstretched at the rectangle's top-left corner.

struct TDepthCase {
  const char* Name;
  int Bpp;
  bool Alpha;  // 32 bits: the alpha bytes decide, and the mask says the opposite
};

class IconDepth : public IconTest, public testing::WithParamInterface<TDepthCase> {};

TEST_P(IconDepth, DrawsThroughTheMask) {
  const TDepthCase& C = GetParam();
  const TGrid Transparent = {{0, 1, 0}, {1, 0, 0}};
  std::vector<std::uint32_t> Table;
  if (C.Bpp <= 8)
    for (std::uint32_t I = 0; I < (1u << C.Bpp); ++I) Table.push_back(I * 0x010305u + 0x204000u);
  TGrid Values(2), Mask(2), Expected(6, std::vector<std::uint32_t>(8, Background));
  for (std::size_t Y = 0; Y < 2; ++Y)
    for (std::size_t X = 0; X < 3; ++X) {
      const bool Clear = Transparent[Y][X] != 0;
      std::uint32_t Color = 0x30A0F0u - static_cast<std::uint32_t>(X * 0x100 + Y * 0x20000);
      std::uint32_t Value = Color;
      if (C.Bpp <= 8) {
        Value = static_cast<std::uint32_t>(X + 2 * Y + 1) % (1u << C.Bpp);
        Color = Table[Value];
      }
      if (C.Alpha) Value |= Clear ? 0u : 0xFF000000u;
      Values[Y].push_back(Value);
      Mask[Y].push_back(C.Alpha ? !Clear : Clear);
      if (!Clear) Expected[Y + 1][X + 2] = Color;
    }
  auto Icon = LoadIcon(IcoFile({{3, 2, 0, IconDib(C.Bpp, Values, Mask, Table), {}, {}}}));
  EXPECT_EQ(ColorsOf(*DrawOnSurface(*Icon, TRect{2, 1, 40, 30}, 8, 6)), Expected);
}

INSTANTIATE_TEST_SUITE_P(Icon, IconDepth,
                         testing::Values(TDepthCase{"Mono", 1, false}, TDepthCase{"Bits4", 4, false},
                                         TDepthCase{"Bits8", 8, false}, TDepthCase{"Bits24", 24, false},
                                         TDepthCase{"Bits32Mask", 32, false}, TDepthCase{"Bits32Alpha", 32, true}),
                         [](const testing::TestParamInfo<TDepthCase>& I) { return std::string(I.param.Name); });

TEST_F(IconTest, ThirtyTwoBitImagesWithoutAMaskAreDrawnThroughTheirAlpha) {
  // Converters write 32-bit images whose data ends with the colour rows: the
  // alpha bytes are the transparency, also where they are all clear.
  auto WithoutMask = [](const TGrid& Values) {
    const TGrid NoMask(Values.size(), std::vector<std::uint32_t>(Values[0].size(), 0));
    TBytes B = IconDib(32, Values, NoMask);
    B.resize(B.size() - 4 * Values.size());  // the mask rows, 4 bytes each
    return LoadIcon(IcoFile({{2, 2, 0, B, {}, {}}}));
  };
  auto Some = WithoutMask({{0xFF102030, 0x00405060}, {0x00708090, 0xFFA0B0C0}});
  EXPECT_EQ(ColorsOf(*DrawOnSurface(*Some, TRect{0, 0, 2, 2}, 2, 2)), (TGrid{{0x102030, Background}, {Background, 0xA0B0C0}}));
  auto None = WithoutMask({{0x00102030, 0x00405060}, {0x00708090, 0x00A0B0C0}});
  EXPECT_EQ(ColorsOf(*DrawOnSurface(*None, TRect{0, 0, 2, 2}, 2, 2)), (TGrid{{Background, Background}, {Background, Background}}));
}

// ---------------------------------------------------------------------------

TEST_F(IconTest, ReportsTheStandardSizeUntilFirstDrawn) {
  auto Icon = LoadIcon(IcoFile({{16, 16, 0, SolidIconDib(16, 16, 0x405060), {}, {}}}));
  EXPECT_EQ(Icon->Width(), 32);
  EXPECT_EQ(Icon->Height(), 32);
  const auto B = DrawOnSurface(*Icon, TRect{5, 7, 45, 47});
  EXPECT_EQ(Icon->Width(), 16);
  EXPECT_EQ(Icon->Height(), 16);
  // Drawn at its own size: the rectangle's size is not used.
  EXPECT_EQ(B->View().PixelAt(5, 7), 0x405060u);
  EXPECT_EQ(B->View().PixelAt(20, 22), 0x405060u);
  EXPECT_EQ(B->View().PixelAt(21, 22), Background);
  EXPECT_EQ(B->View().PixelAt(20, 23), Background);
  EXPECT_EQ(B->View().PixelAt(4, 7), Background);
}

TEST_F(IconTest, DecodesPngEntries) {
  QImage Image(40, 20, QImage::Format_ARGB32);
  Image.fill(qRgba(10, 200, 30, 255));
  for (int X = 0; X < 40; ++X) Image.setPixel(X, 5, qRgba(0, 0, 0, 0));
  auto Icon = LoadIcon(IcoFile({{40, 20, 0, PngOf(Image), {}, {}}}));
  const auto B = DrawOnSurface(*Icon, TRect{0, 0, 48, 48});
  EXPECT_EQ(Icon->Width(), 40);
  EXPECT_EQ(Icon->Height(), 20);
  EXPECT_EQ(B->View().PixelAt(39, 19), 0x0AC81Eu);
  EXPECT_EQ(B->View().PixelAt(7, 5), Background);
  EXPECT_EQ(B->View().PixelAt(40, 0), Background);
}

// Every kind of PNG entry decodes to the premultiplied pixels Qt's own reader
// gives: soft alpha, opaque colour, grey with alpha, a palette with tRNS.
TEST_F(IconTest, PngEntriesArePremultipliedAsQtDoes) {
  QImage Soft(37, 11, QImage::Format_ARGB32);
  for (int Y = 0; Y < 11; ++Y)
    for (int X = 0; X < 37; ++X) Soft.setPixel(X, Y, qRgba(X * 7, Y * 23, (X * Y) & 0xFF, (X * 13 + Y * 41) & 0xFF));
  QImage Indexed = Soft.convertToFormat(QImage::Format_Indexed8);
  Indexed.setColor(3, qRgba(200, 100, 50, 77));
  for (const QImage& Image : {Soft, Soft.convertToFormat(QImage::Format_RGB32),
                              Soft.convertToFormat(QImage::Format_Grayscale8), Indexed}) {
    const TBytes Png = PngOf(Image);
    const QImage Got = DecodeIconImage(Png);
    const QImage Want = QImage::fromData(Png.data(), static_cast<int>(Png.size()), "PNG")
                            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(Got.format(), QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(Got.size(), Want.size());
    for (int Y = 0; Y < Want.height(); ++Y)
      for (int X = 0; X < Want.width(); ++X)
        ASSERT_EQ(Got.pixel(X, Y), Want.pixel(X, Y)) << Image.format() << ": " << X << "," << Y;
  }
}

// The layouts Qt's writer does not make decode alike too: interlaced files,
// low bit depths, a transparent key colour, 16-bit channels (within one level).
TEST_F(IconTest, PngEntriesOfEveryLayoutMatchQt) {
  const auto Sample = [](int X, int Y, int C) { return static_cast<std::uint32_t>((X * 29 + Y * 53 + C * 71) * 257); };
  const auto Png = [&](int ColorType, int Depth, bool Interlaced) {
    TPngFileOptions O;
    O.Width = 19, O.Height = 13, O.ColorType = ColorType, O.BitDepth = Depth, O.Interlaced = Interlaced;
    const std::uint32_t Mask = (1u << Depth) - 1;
    O.Sample = [=](int X, int Y, int C) { return (Sample(X, Y, C) >> (16 - Depth)) & Mask; };
    if (ColorType == PNG_COLOR_TYPE_PALETTE) {
      for (int I = 0; I <= static_cast<int>(Mask); ++I)
        O.Palette.push_back({static_cast<png_byte>(I * 13), static_cast<png_byte>(255 - I * 7), static_cast<png_byte>(I * 97)});
      O.PaletteAlpha = {0, 90, 255, 17};
    }
    if (ColorType == PNG_COLOR_TYPE_GRAY && Depth == 8) {
      O.KeyTransparent = true;
      O.Key.gray = static_cast<png_uint_16>(O.Sample(3, 2, 0));
    }
    return MakePng(O);
  };
  struct TCase { int ColorType, Depth; bool Interlaced; };
  for (const TCase C : {TCase{PNG_COLOR_TYPE_RGB_ALPHA, 8, true}, TCase{PNG_COLOR_TYPE_PALETTE, 4, true},
                        TCase{PNG_COLOR_TYPE_PALETTE, 2, false}, TCase{PNG_COLOR_TYPE_GRAY, 1, false},
                        TCase{PNG_COLOR_TYPE_GRAY, 8, true}, TCase{PNG_COLOR_TYPE_GRAY_ALPHA, 8, false},
                        TCase{PNG_COLOR_TYPE_RGB, 16, false}, TCase{PNG_COLOR_TYPE_RGB_ALPHA, 16, true}}) {
    const TBytes File = Png(C.ColorType, C.Depth, C.Interlaced);
    const QImage Got = DecodeIconImage(File);
    const QImage Want = QImage::fromData(File.data(), static_cast<int>(File.size()), "PNG")
                            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(Got.format(), QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(Got.size(), Want.size());
    const int Tolerance = C.Depth == 16 ? 1 : 0;
    for (int Y = 0; Y < Want.height(); ++Y)
      for (int X = 0; X < Want.width(); ++X)
        for (int Shift = 0; Shift < 32; Shift += 8)
          ASSERT_LE(std::abs(static_cast<int>((Got.pixel(X, Y) >> Shift) & 0xFF) -
                             static_cast<int>((Want.pixel(X, Y) >> Shift) & 0xFF)),
                    Tolerance)
              << C.ColorType << "/" << C.Depth << (C.Interlaced ? " interlaced " : " ") << X << "," << Y;
  }
}

// A damaged PNG entry is refused whole, wherever the damage lies.
TEST_F(IconTest, DamagedPngEntriesAreRefused) {
  TPngFileOptions O;
  O.Width = 8, O.Height = 8;
  O.Sample = [](int X, int Y, int C) { return static_cast<std::uint32_t>(X * 30 + Y * 7 + C); };
  const TBytes Good = MakePng(O);
  const auto Idat = static_cast<std::size_t>(std::search(Good.begin(), Good.end(), "IDAT", "IDAT" + 4) - Good.begin());
  TBytes BadCrc = Good;
  BadCrc[Idat + 6] ^= 0x40;           // a byte of the pixel data: the chunk checksum no longer matches
  const TBytes NoEnd(Good.begin(), Good.end() - 12);  // no IEND chunk
  TBytes BadSignature = Good;
  BadSignature[1] = 'Q';
  for (const TBytes& Bad : {BadCrc, NoEnd})
    EXPECT_THROW(DecodeIconImage(Bad), EOutOfResources);
  // Without the PNG signature the bytes are read as a bitmap image, which they are not either.
  EXPECT_THROW(DecodeIconImage(BadSignature), EOutOfResources);
  EXPECT_EQ(DecodeIconImage(Good).size(), QSize(8, 8));
}

TEST_F(IconTest, TypeZeroShowsTheDefaultApplicationIcon) {
  auto Icon = LoadIcon({0, 0, 0, 0, 0, 0});
  const auto B = DrawOnSurface(*Icon, TRect{0, 0, 48, 48});
  EXPECT_EQ(Icon->Width(), 32);
  EXPECT_EQ(Icon->Height(), 32);
  EXPECT_EQ(B->View().PixelAt(0, 0), Background);  // transparent corner
  EXPECT_NE(B->View().PixelAt(16, 16), Background);
  EXPECT_EQ(B->View().PixelAt(32, 32), Background);
}

TEST_F(IconTest, HeaderErrorsAtLoading) {
  EXPECT_THROW(
      {
        try {
          LoadIcon({0, 0, 1, 0, 1});
        } catch (const EReadError& E) {
          EXPECT_EQ(E.Message(), "Stream read error");
          throw;
        }
      },
      EReadError);
  EXPECT_THROW(
      {
        try {
          LoadIcon({0, 0, 2, 0, 1, 0});
        } catch (const EInvalidGraphic& E) {
          EXPECT_EQ(E.Message(), "Icon image is not valid");
          throw;
        }
      },
      EInvalidGraphic);
}

// Damaged directories and images: a clean error at the first drawing, which
// draws nothing and leaves the icon undecoded. The failure is kept: later
// drawings draw nothing and raise nothing, until the icon is loaded again.

enum TErrorKind : std::uint8_t { ekRead, ekInvalid, ekResources };

struct TDrawErrorCase {
  const char* Name;
  TBytes Bytes;
  TErrorKind Kind;
};

class IconDrawErrors : public IconTest, public testing::WithParamInterface<TDrawErrorCase> {};

void ExpectDrawError(TIcon& Icon, TBitmap& B, TErrorKind Kind) {
  try {
    B.Canvas().StretchDraw(TRect{0, 0, 8, 8}, &Icon);
    FAIL() << "no error";
  } catch (const EReadError& E) {
    EXPECT_EQ(Kind, ekRead);
    EXPECT_EQ(E.Message(), "Stream read error");
  } catch (const EInvalidGraphic& E) {
    EXPECT_EQ(Kind, ekInvalid);
    EXPECT_EQ(E.Message(), "Icon image is not valid");
  } catch (const EOutOfResources& E) {
    EXPECT_EQ(Kind, ekResources);
    EXPECT_EQ(E.Message(), "Out of system resources");
  }
}

TEST_P(IconDrawErrors, RaisesOnceAtTheFirstDrawing) {
  const TDrawErrorCase& C = GetParam();
  auto Icon = LoadIcon(C.Bytes);
  auto B = std::make_unique<TBitmap>(8, 8);
  ExpectDrawError(*Icon, *B, C.Kind);
  EXPECT_EQ(Icon->Width(), 32);
  EXPECT_EQ(B->View().PixelAt(0, 0), 0xFFFFFFu);
  for (int Paint = 0; Paint < 3; ++Paint) EXPECT_NO_THROW(B->Canvas().StretchDraw(TRect{0, 0, 8, 8}, Icon.get()));
  EXPECT_EQ(B->View().PixelAt(0, 0), 0xFFFFFFu);
  EXPECT_EQ(Icon->Width(), 32);
  // New data are tried again, once.
  TMemoryStream S(C.Bytes);
  Icon->LoadFromStream(S);
  ExpectDrawError(*Icon, *B, C.Kind);
  EXPECT_NO_THROW(B->Canvas().StretchDraw(TRect{0, 0, 8, 8}, Icon.get()));
}

TBytes Entry(TIcoEntry E) { return IcoFile({std::move(E)}); }

TBytes WithDib(void (*Change)(TDib&)) {
  TDib D;
  D.Width = 2;
  D.Height = 4;
  D.Pixels.assign(8 * 2 + 4 * 2, 0);
  Change(D);
  TBytes B = D.HeaderAndTable();
  B.insert(B.end(), D.Pixels.begin(), D.Pixels.end());
  return Entry({2, 2, 0, B, {}, {}});
}

TBytes PngClaiming(std::uint32_t Size) {
  TBytes B = PngOf(QImage(2, 2, QImage::Format_ARGB32));
  for (int I = 0; I < 4; ++I) {
    B[static_cast<std::size_t>(16 + I)] = static_cast<std::uint8_t>(Size >> (24 - 8 * I));
    B[static_cast<std::size_t>(20 + I)] = static_cast<std::uint8_t>(Size >> (24 - 8 * I));
  }
  return B;
}

INSTANTIATE_TEST_SUITE_P(
    Icon, IconDrawErrors,
    testing::Values(
        TDrawErrorCase{"EmptyDirectory", {0, 0, 1, 0, 0, 0}, ekInvalid},
        TDrawErrorCase{"DirectoryPastTheEnd", {0, 0, 1, 0, 3, 0, 16, 16, 0, 0, 1, 0, 32, 0}, ekRead},
        // An image outside the file cannot be built, like one whose data is damaged.
        TDrawErrorCase{"ImageOffsetPastTheEnd", Entry({16, 16, 0, SolidIconDib(16, 16, 1), 100000, {}}), ekResources},
        TDrawErrorCase{"ImageSizePastTheEnd", Entry({16, 16, 0, SolidIconDib(16, 16, 1), {}, 100000}), ekResources},
        TDrawErrorCase{"ImageEndPast4GB", Entry({16, 16, 0, SolidIconDib(16, 16, 1), 0xFFFFFFF0u, 0x20}), ekResources},
        TDrawErrorCase{"UnsupportedDepth", WithDib([](TDib& D) { D.Bpp = 2; }), ekResources},
        TDrawErrorCase{"Compressed", WithDib([](TDib& D) { D.Compression = 1, D.Bpp = 8; }), ekResources},
        TDrawErrorCase{"TopDown", WithDib([](TDib& D) { D.Height = -4; }), ekResources},
        TDrawErrorCase{"MaskCutShort", WithDib([](TDib& D) { D.Pixels.resize(8 * 2 + 3); }), ekResources},
        TDrawErrorCase{"MorePixelsThanAllowed", WithDib([](TDib& D) { D.Width = 16385, D.Height = 2 * 16385; }),
                       ekResources},
        TDrawErrorCase{"PngCutShort", Entry({2, 2, 0, Cut(PngOf(QImage(2, 2, QImage::Format_ARGB32)), 40), {}, {}}),
                       ekResources},
        TDrawErrorCase{"PngMorePixelsThanAllowed", Entry({2, 2, 0, PngClaiming(20000), {}, {}}), ekResources}),
    [](const testing::TestParamInfo<TDrawErrorCase>& I) { return std::string(I.param.Name); });

}  // namespace
