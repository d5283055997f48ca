#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <QBuffer>
#include <QImage>

#include "picture/Bitmap.h"
#include "picture/BmpBuilder.h"
#include "toolkit/Exceptions.h"

using namespace bmptest;

namespace {

void LoadInto(TBitmap& B, const TBytes& Bytes) {
  TMemoryStream S(Bytes);
  B.LoadFromStream(S);
}

std::unique_ptr<TBitmap> Load(const TBytes& Bytes) {
  auto B = std::make_unique<TBitmap>();
  LoadInto(*B, Bytes);
  return B;
}

// A colour table of 16 entries whose colour value is the index, so that
// decoded colours read back as indices.
std::vector<std::uint32_t> IndexTable() {
  std::vector<std::uint32_t> T(16);
  for (std::uint32_t I = 0; I < 16; ++I) T[I] = I;
  return T;
}

// ---------------------------------------------------------------------------
// Every header kind and depth, pixel-exact against the colours written.

struct TDepthCase {
  const char* Name;
  std::uint32_t HeaderSize;
  int Bpp;
  std::optional<std::array<std::uint32_t, 3>> Masks;  // set: bit-field compression
  bool TopDown;
};

constexpr std::array<std::uint32_t, 3> Masks565{0xF800, 0x07E0, 0x001F};
constexpr std::array<std::uint32_t, 3> MasksBgrx{0x0000FF00, 0x00FF0000, 0xFF000000};
constexpr std::array<std::uint32_t, 3> MasksRgb{0x00FF0000, 0x0000FF00, 0x000000FF};

// Direct colours with every channel all on or all off: exact at any mask width.
constexpr std::uint32_t Primaries[8] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

class BmpReaderDepth : public testing::TestWithParam<TDepthCase> {};

TEST_P(BmpReaderDepth, DecodesColorsExactly) {
  const TDepthCase& C = GetParam();
  const int W = 5, H = 3;  // odd width: every depth has row padding
  TBmpFile F;
  F.Dib.HeaderSize = C.HeaderSize;
  F.Dib.Width = W;
  F.Dib.Height = C.TopDown ? -H : H;
  F.Dib.Bpp = static_cast<std::uint16_t>(C.Bpp);
  F.Dib.Masks = C.Masks;
  F.Dib.Compression = C.Masks ? 3 : 0;
  if (C.Bpp <= 8)
    for (std::uint32_t I = 0; I < (1u << C.Bpp); ++I) F.Dib.ColorTable.push_back((I * 37 % 256) << 16 | (255 - I) << 8 | (I * 91 % 256));
  TGrid Expected(H), Values(H);
  for (std::uint32_t Y = 0; Y < H; ++Y)
    for (std::uint32_t X = 0; X < W; ++X) {
      std::uint32_t Color, Value;
      if (C.Bpp <= 8) {
        Value = (X * 3 + Y * 5 + 1) % (1u << C.Bpp);
        Color = F.Dib.ColorTable[Value];
      } else if (C.Bpp == 24) {
        Color = Value = (X * 40 + Y * 7) << 16 | (X * 3) << 8 | (200 - Y * 50);
      } else {
        // 16 and 32 bits: the masks in force (5-5-5 and 8-8-8 without bit fields)
        // set on for each channel that is on; a 32-bit pixel's spare byte is junk.
        Color = Primaries[(X + 2 * Y) % 8];
        const auto M = C.Masks ? *C.Masks
                               : (C.Bpp == 16 ? std::array<std::uint32_t, 3>{0x7C00, 0x03E0, 0x001F} : MasksRgb);
        Value = (Color & 0xFF0000 ? M[0] : 0) | (Color & 0xFF00 ? M[1] : 0) | (Color & 0xFF ? M[2] : 0);
        if (C.Bpp == 32 && !C.Masks) Value |= 0xAB000000;
      }
      Expected[Y].push_back(Color);
      Values[Y].push_back(Value);
    }
  F.Dib.Pixels = PackRows(C.Bpp, Values, C.TopDown);

  const auto B = Load(F.Bytes());
  EXPECT_EQ(B->Width(), W);
  EXPECT_EQ(B->Height(), H);
  EXPECT_EQ(B->BitsPerPixel(), C.Bpp);
  EXPECT_EQ(ColorsOf(*B), Expected);
  EXPECT_EQ(B->PaletteModified(), C.Bpp <= 8);
  EXPECT_EQ(B->Palette() != nullptr, C.Bpp <= 8);
}

INSTANTIATE_TEST_SUITE_P(
    BmpReader, BmpReaderDepth,
    testing::Values(TDepthCase{"Core1", 12, 1, {}, false}, TDepthCase{"Core4", 12, 4, {}, false},
                    TDepthCase{"Core8", 12, 8, {}, false}, TDepthCase{"Core24", 12, 24, {}, false},
                    TDepthCase{"Info1", 40, 1, {}, false}, TDepthCase{"Info4", 40, 4, {}, false},
                    TDepthCase{"Info8", 40, 8, {}, false}, TDepthCase{"Info16", 40, 16, {}, false},
                    TDepthCase{"Info24", 40, 24, {}, false}, TDepthCase{"Info32", 40, 32, {}, false},
                    TDepthCase{"Info16BitFields565", 40, 16, Masks565, false},
                    TDepthCase{"Info32BitFieldsBgrx", 40, 32, MasksBgrx, false},
                    TDepthCase{"Info52_16BitFields565", 52, 16, Masks565, false},
                    TDepthCase{"Info56_32BitFieldsBgrx", 56, 32, MasksBgrx, false},
                    TDepthCase{"V4_16BitFields565", 108, 16, Masks565, false},
                    TDepthCase{"V4_32BitFields", 108, 32, MasksRgb, false}, TDepthCase{"V4_24", 108, 24, {}, false},
                    TDepthCase{"V5_32BitFieldsBgrx", 124, 32, MasksBgrx, false},
                    TDepthCase{"V5_8", 124, 8, {}, false}, TDepthCase{"ShortOs2Header24", 16, 24, {}, false},
                    TDepthCase{"Os2Header8", 64, 8, {}, false}, TDepthCase{"TopDown8", 40, 8, {}, true},
                    TDepthCase{"TopDown24", 40, 24, {}, true},
                    TDepthCase{"TopDownV5_32BitFields", 124, 32, MasksBgrx, true}),
    [](const testing::TestParamInfo<TDepthCase>& I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// Run-length encoding: every escape, decoded to the colour indices.

struct TRleCase {
  const char* Name;
  int Bpp;
  std::int32_t Width;
  TBytes Data;
  TGrid Expected;  // top row first
};

class BmpReaderRle : public testing::TestWithParam<TRleCase> {};

TEST_P(BmpReaderRle, DecodesToIndices) {
  const TRleCase& C = GetParam();
  TBmpFile F;
  F.Dib.Width = C.Width;
  F.Dib.Height = static_cast<std::int32_t>(C.Expected.size());
  F.Dib.Bpp = static_cast<std::uint16_t>(C.Bpp);
  F.Dib.Compression = C.Bpp == 8 ? 1 : 2;
  F.Dib.ColorTable = IndexTable();
  F.Dib.Pixels = C.Data;
  const auto B = Load(F.Bytes());
  EXPECT_EQ(B->BitsPerPixel(), C.Bpp);
  EXPECT_EQ(ColorsOf(*B), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    BmpReader, BmpReaderRle,
    testing::Values(
        // Run of 3, end of line; absolute run of 3 with its pad byte, run of 1;
        // end of line; delta 2 right; run of 1; end of bitmap.
        TRleCase{"Rle8Escapes", 8, 4,
                 {3, 5, 0, 0, 0, 3, 1, 2, 3, 0, 1, 7, 0, 0, 0, 2, 2, 0, 1, 9, 0, 1},
                 {{0, 0, 9, 0}, {1, 2, 3, 7}, {5, 5, 5, 0}}},
        // A run past the right edge is cut; a delta moves right and up; the data
        // ends without an end-of-bitmap code.
        TRleCase{"Rle8ClipsAndMovesUp", 8, 3, {5, 4, 0, 0, 0, 2, 1, 1, 1, 6}, {{0, 6, 0}, {0, 0, 0}, {4, 4, 4}}},
        TRleCase{"Rle8AbsoluteRunCutShort", 8, 4, {0, 4, 1, 2}, {{1, 2, 0, 0}}},
        TRleCase{"Rle8EndOfBitmapLeavesRest", 8, 2, {2, 3, 0, 1, 2, 4}, {{0, 0}, {3, 3}}},
        // Runs alternate the two nibbles; an absolute run of 3 nibbles fills 2 bytes, no pad.
        TRleCase{"Rle4Escapes", 4, 5,
                 {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 2, 0x78, 0, 1},
                 {{3, 4, 5, 7, 8}, {1, 2, 1, 2, 1}}},
        // An absolute run of 5 nibbles fills 3 bytes and a pad byte.
        TRleCase{"Rle4AbsolutePadding", 4, 6, {0, 5, 0x12, 0x34, 0x50, 0, 1, 0x90, 0, 1}, {{1, 2, 3, 4, 5, 9}}}),
    [](const testing::TestParamInfo<TRleCase>& I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// Damaged files: the documented errors, and the bitmap keeps its image.

TBmpFile Valid8Bit() {
  TBmpFile F;
  F.Dib.Width = 2;
  F.Dib.Height = 2;
  F.Dib.Bpp = 8;
  F.Dib.ColorTable = {0x102030, 0x405060};
  F.Dib.Pixels = PackRows(8, {{0, 1}, {1, 0}}, false);
  return F;
}

// Overwrites the 32-bit field at Offset.
TBytes Patch32(TBytes B, std::size_t Offset, std::uint32_t V) {
  for (int I = 0; I < 4; ++I) B[Offset + static_cast<std::size_t>(I)] = static_cast<std::uint8_t>(V >> (8 * I));
  return B;
}

struct TErrorCase {
  const char* Name;
  TBytes Bytes;
  bool ReadError;  // EReadError "Stream read error"; otherwise "Bitmap image is not valid"
};

class BmpReaderErrors : public testing::TestWithParam<TErrorCase> {};

TEST_P(BmpReaderErrors, RaisesAndKeepsTheImage) {
  const TErrorCase& C = GetParam();
  TBitmap B;
  LoadInto(B, Valid8Bit().Bytes());
  const TGrid Before = ColorsOf(B);
  try {
    LoadInto(B, C.Bytes);
    FAIL() << "no error";
  } catch (const EReadError& E) {
    EXPECT_TRUE(C.ReadError);
    EXPECT_EQ(E.Message(), "Stream read error");
  } catch (const EInvalidGraphic& E) {
    EXPECT_FALSE(C.ReadError);
    EXPECT_EQ(E.Message(), "Bitmap image is not valid");
  }
  EXPECT_EQ(ColorsOf(B), Before);
}

TBytes With(void (*Change)(TBmpFile&)) {
  TBmpFile F = Valid8Bit();
  Change(F);
  return F.Bytes();
}

TBytes BitFields16() {
  TBmpFile F;
  F.Dib.Bpp = 16;
  F.Dib.Compression = 3;
  F.Dib.Masks = Masks565;
  return F.Bytes();
}

INSTANTIATE_TEST_SUITE_P(
    BmpReader, BmpReaderErrors,
    testing::Values(
        TErrorCase{"NotBM", With([](TBmpFile& F) { F.Type = 0x4142; }), false},
        TErrorCase{"PngSignature", {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'}, false},
        TErrorCase{"TwoPlanes", With([](TBmpFile& F) { F.Dib.Planes = 2; }), false},
        TErrorCase{"TwoBitsPerPixel", With([](TBmpFile& F) { F.Dib.Bpp = 2; }), false},
        TErrorCase{"Rle8AtFourBits", With([](TBmpFile& F) { F.Dib.Bpp = 4, F.Dib.Compression = 1; }), false},
        TErrorCase{"RleTopDown", With([](TBmpFile& F) { F.Dib.Height = -2, F.Dib.Compression = 1; }), false},
        TErrorCase{"BitFieldsAt8Bits", With([](TBmpFile& F) { F.Dib.Compression = 3, F.Dib.Masks = Masks565; }), false},
        TErrorCase{"EmbeddedJpeg", With([](TBmpFile& F) { F.Dib.Compression = 4; }), false},
        TErrorCase{"ZeroWidth", With([](TBmpFile& F) { F.Dib.Width = 0; }), false},
        TErrorCase{"NegativeWidth", With([](TBmpFile& F) { F.Dib.Width = -2; }), false},
        TErrorCase{"ZeroHeight", With([](TBmpFile& F) { F.Dib.Height = 0; }), false},
        TErrorCase{"MorePixelsThanAllowed", With([](TBmpFile& F) { F.Dib.Width = 16385, F.Dib.Height = 16385; }), false},
        TErrorCase{"MostNegativeHeight", With([](TBmpFile& F) { F.Dib.Height = INT32_MIN; }), false},
        TErrorCase{"HeaderTooShort", With([](TBmpFile& F) { F.Dib.HeaderSize = 8; }), false},
        TErrorCase{"EndsInFileHeader", Cut(Valid8Bit().Bytes(), 10), true},
        TErrorCase{"EndsInInfoHeader", Cut(Valid8Bit().Bytes(), 14 + 30), true},
        TErrorCase{"EndsInMasks", Cut(BitFields16(), 14 + 40 + 6), true},
        TErrorCase{"EndsInColorTable", Cut(Valid8Bit().Bytes(), 14 + 40 + 6), true},
        TErrorCase{"HeaderSizePastTheEnd", Patch32(Valid8Bit().Bytes(), 14, 0xFFFFFFF0), true},
        TErrorCase{"ColorCountPastTheEnd", With([](TBmpFile& F) { F.Dib.ColorsUsed = 0xFFFFFFFF; }), true}),
    [](const testing::TestParamInfo<TErrorCase>& I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// Where the pixels start: the file header's offset when it points past the
// colour table and inside the file, otherwise right after the table.

struct TOffsetCase {
  const char* Name;
  std::optional<std::uint32_t> Offset;  // none: where the pixels are
  std::uint32_t Expected;
};

class BmpReaderPixelOffset : public testing::TestWithParam<TOffsetCase> {};

TEST_P(BmpReaderPixelOffset, ChoosesWhereThePixelsStart) {
  TBmpFile F;
  F.Dib.Bpp = 8;
  F.Dib.ColorTable = {0x000000, 0x112233};
  F.Dib.Pixels = {1, 0, 0, 0};
  F.Gap = 4;  // index 0xEE, past the table: black
  F.PixelOffset = GetParam().Offset;
  // File header 14, info header 40, table 8, gap 4: the pixels start at 66, the file ends at 70.
  EXPECT_EQ(Load(F.Bytes())->View().PixelAt(0, 0), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(BmpReader, BmpReaderPixelOffset,
                         testing::Values(TOffsetCase{"PastAGap", {}, 0x112233}, TOffsetCase{"Zero", 0, 0},
                                         TOffsetCase{"InsideTheHeaders", 20, 0},
                                         TOffsetCase{"InsideTheColorTable", 58, 0},
                                         TOffsetCase{"AtTheEnd", 70, 0}, TOffsetCase{"PastTheEnd", 1000, 0}),
                         [](const testing::TestParamInfo<TOffsetCase>& I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// Pixel data cut short: the rows that are there, the rest black.

struct TShortCase {
  const char* Name;
  bool TopDown;
  std::optional<std::uint32_t> ImageSize;
  std::size_t PixelBytes;  // of the 32 written (4 rows of 8 bytes)
  TGrid Expected;          // top row first
};

class BmpReaderShortData : public testing::TestWithParam<TShortCase> {};

TEST_P(BmpReaderShortData, KeepsTheRowsThatAreThere) {
  const TShortCase& C = GetParam();
  const TGrid Rows = {{0x111111, 0x121212}, {0x212121, 0x222222}, {0x313131, 0x323232}, {0x414141, 0x424242}};
  TBmpFile F;
  F.Dib.Width = 2;
  F.Dib.Height = C.TopDown ? -4 : 4;
  F.Dib.ImageSize = C.ImageSize.value_or(32);
  F.Dib.Pixels = Cut(PackRows(24, Rows, C.TopDown), C.PixelBytes);
  EXPECT_EQ(ColorsOf(*Load(F.Bytes())), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    BmpReader, BmpReaderShortData,
    testing::Values(
        TShortCase{"BottomUpCutInARow", false, {}, 19,
                   {{0, 0}, {0x212121, 0}, {0x313131, 0x323232}, {0x414141, 0x424242}}},
        TShortCase{"TopDownCutInARow", true, {}, 19,
                   {{0x111111, 0x121212}, {0x212121, 0x222222}, {0x313131, 0}, {0, 0}}},
        // Writers leave the image size too small; the rows in the file count.
        TShortCase{"ImageSizeBelowTheData", false, 8, 32,
                   {{0x111111, 0x121212}, {0x212121, 0x222222}, {0x313131, 0x323232}, {0x414141, 0x424242}}},
        TShortCase{"ImageSizeBelowTheDataCutInARow", false, 8, 19,
                   {{0, 0}, {0x212121, 0}, {0x313131, 0x323232}, {0x414141, 0x424242}}},
        TShortCase{"ImageSizePastTheEnd", false, 0xFFFFFF00, 32,
                   {{0x111111, 0x121212}, {0x212121, 0x222222}, {0x313131, 0x323232}, {0x414141, 0x424242}}},
        TShortCase{"ImageSizeZero", false, 0, 32,
                   {{0x111111, 0x121212}, {0x212121, 0x222222}, {0x313131, 0x323232}, {0x414141, 0x424242}}},
        TShortCase{"NoPixelsAtAll", true, {}, 0, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}}),
    [](const testing::TestParamInfo<TShortCase>& I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------

TEST(BmpReader, ShortColorTableLeavesHigherIndicesBlack) {
  TBmpFile F;
  F.Dib.Width = 3;
  F.Dib.Bpp = 8;
  F.Dib.ColorTable = {0xFF0000, 0x00FF00};
  F.Dib.Pixels = PackRow(8, {0, 1, 2});
  const auto B = Load(F.Bytes());
  EXPECT_EQ(ColorsOf(*B), (TGrid{{0xFF0000, 0x00FF00, 0}}));
  ASSERT_NE(B->Palette(), nullptr);
  EXPECT_EQ(B->Palette()->Entries().size(), 2u);
}

TEST(BmpReader, ColorTableOfADirectColorBitmapIsPassedOver) {
  TBmpFile F;
  F.Dib.Width = 1;
  F.Dib.ColorTable = {0x010203, 0x040506, 0x070809};
  F.Dib.Pixels = PackRow(24, {0xA0B0C0});
  F.PixelOffset = 0;  // the pixels must be found right after the table
  const auto B = Load(F.Bytes());
  EXPECT_EQ(B->View().PixelAt(0, 0), 0xA0B0C0u);
  EXPECT_TRUE(B->PaletteModified());
}

TEST(BmpReader, ZeroLengthStreamGivesAnEmptyBitmap) {
  TBitmap B;
  LoadInto(B, Valid8Bit().Bytes());
  int Changes = 0;
  B.OnChange = [&](TObject*) { ++Changes; };
  LoadInto(B, {});
  EXPECT_TRUE(B.Empty());
  EXPECT_EQ(B.Width(), 0);
  EXPECT_EQ(B.Height(), 0);
  EXPECT_EQ(Changes, 1);
}

TEST(BmpReader, ReadsFromTheStreamPositionAndOffsetsFromThere) {
  TBmpFile F = Valid8Bit();
  F.Gap = 6;  // honoured only when the offset counts from the bitmap's own start
  TBytes Bytes = {'x', 'y', 'z'};
  const TBytes File = F.Bytes();
  Bytes.insert(Bytes.end(), File.begin(), File.end());
  TMemoryStream S(Bytes);
  S.SetPosition(3);
  TBitmap B;
  B.LoadFromStream(S);
  EXPECT_EQ(ColorsOf(B), (TGrid{{0x102030, 0x405060}, {0x405060, 0x102030}}));
  EXPECT_EQ(S.Position(), static_cast<std::int64_t>(Bytes.size()));
}

TEST(BmpReader, AcceptsThePixelLimitExactly) {
  TBmpFile F;
  F.Dib.Width = 16384;
  F.Dib.Height = 16384;  // 2^28 pixels; no pixel data: all black
  F.Dib.Bpp = 1;
  F.Dib.ColorTable = {0x000000, 0xFFFFFF};
  const auto B = Load(F.Bytes());
  EXPECT_EQ(B->Width(), 16384);
  EXPECT_EQ(B->View().PixelAt(16383, 16383), 0u);
}

// The bitmaps that TBitmap writes and that Qt writes read back unchanged.
// Files larger than the first bytes read for their headers: uncompressed rows
// go from the file straight into the bitmap, and must come out as from a
// stream, byte for byte, cut, gapped, encoded or refused.
TEST(BmpReader, FileLoadsAsTheStreamDoes) {
  const std::string Path = (std::filesystem::temp_directory_path() / "kest_bmp_file_load_test.bmp").string();
  struct TCase {
    const char* Name;
    TBytes Bytes;
  };
  auto Big = [](int Bpp, bool TopDown, std::optional<std::array<std::uint32_t, 3>> Masks = {}) {
    TBmpFile F;
    F.Dib.Width = 403;  // rows padded at every depth
    F.Dib.Height = TopDown ? -1100 : 1100;  // more rows than one system read takes
    F.Dib.Bpp = static_cast<std::uint16_t>(Bpp);
    if (Masks) {
      F.Dib.Compression = 3;
      F.Dib.Masks = Masks;
    }
    if (Bpp <= 8)
      for (std::uint32_t I = 0; I < (1u << Bpp); ++I) F.Dib.ColorTable.push_back(I * 0x030507u & 0xFFFFFF);
    const std::size_t Row = (403 * std::size_t(Bpp) + 31) / 32 * 4;
    for (std::size_t I = 0; I < Row * 1100; ++I) F.Dib.Pixels.push_back(static_cast<std::uint8_t>(I * 7 + I / 997));
    return F;
  };
  std::vector<TCase> Cases;
  for (int Bpp : {1, 4, 8, 24, 32})
    for (bool TopDown : {false, true}) Cases.push_back({"plain", Big(Bpp, TopDown).Bytes()});
  Cases.push_back({"bit fields", Big(16, false, Masks565).Bytes()});
  Cases.push_back({"cut in a row", Cut(Big(24, false).Bytes(), 200000)});
  Cases.push_back({"cut in a top-down row", Cut(Big(8, true).Bytes(), 150001)});
  Cases.push_back({"cut after the headers", Cut(Big(24, false).Bytes(), 14 + 40)});
  TBmpFile Gapped = Big(8, false);
  Gapped.Gap = 100;
  Cases.push_back({"gap", Gapped.Bytes()});
  Gapped.PixelOffset = 3;
  Cases.push_back({"offset inside the headers", Gapped.Bytes()});
  Gapped.PixelOffset = 0xFFFFFF;
  Cases.push_back({"offset past the end", Gapped.Bytes()});
  TBmpFile Encoded = Big(8, false);
  Encoded.Dib.Compression = 1;  // runs of 255 pixels, to the end of the bitmap
  Encoded.Dib.Pixels.assign(Encoded.Dib.Pixels.size(), 0);
  for (std::size_t I = 0; I + 1 < Encoded.Dib.Pixels.size(); I += 2) Encoded.Dib.Pixels[I] = 0xFF;
  Cases.push_back({"encoded", Encoded.Bytes()});
  TBmpFile Wrong = Big(24, false);
  Wrong.Type = 0x4D43;
  Cases.push_back({"refused", Wrong.Bytes()});
  TBmpFile ManyColors = Big(8, false);
  ManyColors.Dib.ColorsUsed = 30000;  // a table past the first bytes read
  ManyColors.Dib.ColorTable.resize(30000, 0x123456);
  Cases.push_back({"long colour table", ManyColors.Bytes()});
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    ASSERT_GE(C.Bytes.size(), 14u + 40u);
    {
      std::FILE* F = std::fopen(Path.c_str(), "wb");
      ASSERT_TRUE(F);
      std::fwrite(C.Bytes.data(), 1, C.Bytes.size(), F);
      std::fclose(F);
    }
    TBitmap FromStream, FromFile;
    std::string StreamError = "none", FileError = "none";
    try {
      LoadInto(FromStream, C.Bytes);
    } catch (const Exception& E) {
      StreamError = E.what();
    }
    try {
      FromFile.LoadFromFile(Path);
    } catch (const Exception& E) {
      FileError = E.what();
    }
    EXPECT_EQ(FileError, StreamError);
    EXPECT_TRUE(FromFile.Equals(&FromStream));
    EXPECT_EQ(FromFile.PixelFormat(), FromStream.PixelFormat());
    EXPECT_EQ(FromFile.ColorTable(), FromStream.ColorTable());
    EXPECT_EQ(FromFile.PaletteModified(), FromStream.PaletteModified());
    EXPECT_EQ(FromFile.RedMask(), FromStream.RedMask());
    EXPECT_EQ(FromFile.BlueMask(), FromStream.BlueMask());
    // Through the picture as well.
    if (StreamError == "none") {
      TPicture P;
      P.LoadFile(Path);
      EXPECT_TRUE(P.Graphic()->Equals(&FromStream));
    }
  }
  std::filesystem::remove(Path);
}

TEST(BmpReader, ReadsWhatTheBitmapWriterWrites) {
  for (TPixelFormat Format : {pf1bit, pf4bit, pf8bit, pf16bit, pf24bit, pf32bit}) {
    TBitmap Source(7, 3, Format);
    for (std::int32_t Y = 0; Y < 3; ++Y)
      for (std::ptrdiff_t I = 0; I < Source.Stride(); ++I) Source.ScanLine(Y)[I] = static_cast<std::uint8_t>(I * 29 + Y * 71);
    TMemoryStream S;
    Source.SaveToStream(S);
    S.SetPosition(0);
    TBitmap Copy;
    Copy.LoadFromStream(S);
    EXPECT_TRUE(Copy.Equals(&Source)) << "format " << int(Format);
  }
}

TEST(BmpReader, ReadsWhatQtWrites) {
  QImage Rgb(9, 5, QImage::Format_RGB32);
  for (int Y = 0; Y < 5; ++Y)
    for (int X = 0; X < 9; ++X) Rgb.setPixel(X, Y, qRgb(X * 28, Y * 60, (X * Y * 13) & 0xFF));
  for (const QImage& Source : {Rgb, Rgb.convertToFormat(QImage::Format_Indexed8),
                               Rgb.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither)}) {
    QByteArray Data;
    QBuffer Buffer(&Data);
    Buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(Source.save(&Buffer, "BMP"));
    const auto B = Load(TBytes(Data.begin(), Data.end()));
    ASSERT_EQ(B->Width(), 9);
    ASSERT_EQ(B->Height(), 5);
    for (int Y = 0; Y < 5; ++Y)
      for (int X = 0; X < 9; ++X) EXPECT_EQ(B->View().PixelAt(X, Y), Source.pixel(X, Y) & 0xFFFFFFu) << X << "," << Y;
  }
}

}  // namespace
