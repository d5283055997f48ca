// One bitmap, the same pixels wherever it is held: read from a bitmap file and
// drawn from a metafile record, the header, colour table, run-length data and
// bit fields follow the same rules.
#include <gtest/gtest.h>

#include "MetafileBuilder.h"
#include "MetafileRender.h"
#include "picture/BmpBuilder.h"
#include "picture/Dib.h"

namespace {

using bmptest::TBmpFile;
using bmptest::TDib;
using bmptest::TGrid;

TGrid FromBitmapFile(const TDib& D) {
  TBmpFile F;
  F.Dib = D;
  TMemoryStream S(F.Bytes());
  TBitmap B;
  B.LoadFromStream(S);
  return bmptest::ColorsOf(B);
}

// The bitmap drawn one to one at the top-left corner of a metafile's frame.
TGrid FromMetafileRecord(const TDib& D) {
  const std::int32_t W = D.Width, H = D.Height < 0 ? -D.Height : D.Height;
  const QImage I = Render(TEmfBuilder().StretchDib(0, 0, W, H, D.HeaderAndTable(), D.Pixels, W, H).Bytes());
  TGrid G(static_cast<std::size_t>(H));
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) G[static_cast<std::size_t>(Y)].push_back(Px(I, X, Y));
  return G;
}

std::vector<std::uint32_t> Colors(std::uint32_t N) {
  std::vector<std::uint32_t> T;
  for (std::uint32_t I = 0; I < N; ++I) T.push_back(0x1000000u - 0x0B0D11u * (I + 1));
  return T;
}

struct TCase {
  const char* Name;
  TDib Dib;
};

TDib Make(std::uint32_t HeaderSize, std::int32_t W, std::int32_t H, std::uint16_t Bpp, std::uint32_t Compression,
          std::vector<std::uint32_t> Table, bmptest::TBytes Pixels) {
  TDib D;
  D.HeaderSize = HeaderSize;
  D.Width = W;
  D.Height = H;
  D.Bpp = Bpp;
  D.Compression = Compression;
  D.ColorTable = std::move(Table);
  D.Pixels = std::move(Pixels);
  return D;
}

TDib WithMasks(TDib D, std::array<std::uint32_t, 3> Masks) {
  D.Masks = Masks;
  return D;
}

}  // namespace

TEST(Dib, ABitmapDecodesAlikeInAFileAndInAMetafileRecord) {
  using bmptest::PackRows;
  const TGrid Indices = {{0, 1, 2, 3, 4}, {5, 6, 7, 0, 1}, {2, 3, 4, 5, 6}};
  const TGrid Direct = {{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFFFFFF}, {0x00FFFF, 0, 0xFF00FF, 0xFF0000, 0},
                        {0x0000FF, 0xFFFFFF, 0, 0x00FF00, 0xFF00FF}};
  auto Rgb565 = [&] {
    TGrid V = Direct;
    for (auto& Row : V)
      for (auto& C : Row) C = (C & 0xFF0000 ? 0xF800u : 0) | (C & 0xFF00 ? 0x07E0u : 0) | (C & 0xFF ? 0x001Fu : 0);
    return V;
  };
  const TCase Cases[] = {
      {"core header", Make(12, 5, 3, 8, 0, Colors(256), PackRows(8, Indices, false))},
      {"short OS/2 header", Make(16, 5, 3, 24, 0, {}, PackRows(24, Direct, false))},
      {"top-down", Make(40, 5, -3, 4, 0, Colors(16), PackRows(4, Indices, true))},
      {"fewer colours used than the depth holds", Make(40, 5, 3, 8, 0, Colors(5), PackRows(8, Indices, false))},
      {"bit fields after a 40-byte header", WithMasks(Make(40, 5, 3, 16, 3, {}, PackRows(16, Rgb565(), false)),
                                                      {0xF800, 0x07E0, 0x001F})},
      {"bit fields inside a 52-byte header", WithMasks(Make(52, 5, 3, 16, 3, {}, PackRows(16, Rgb565(), false)),
                                                       {0xF800, 0x07E0, 0x001F})},
      {"rows cut short", Make(40, 5, 3, 24, 0, {}, bmptest::Cut(PackRows(24, Direct, false), 23))},
      // Run, absolute run, end of line, delta, and an absolute run cut short by the end of the data.
      {"run-length 8", Make(40, 5, 3, 8, 1, Colors(8), {2, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 0, 4, 7, 6})},
      {"run-length 4", Make(40, 5, 3, 4, 2, Colors(16), {3, 0x12, 0, 0, 0, 3, 0x45, 0x60, 0, 1})},
  };
  for (const auto& C : Cases) {
    const TGrid File = FromBitmapFile(C.Dib);
    EXPECT_EQ(FromMetafileRecord(C.Dib), File) << C.Name;
  }
}

TEST(Dib, PixelBytesOfUncompressedRowsIgnoreTheImageSize) {
  TBmpInfo Info;
  Info.Width = 3;
  Info.Height = -2;
  Info.BitsPerPixel = 24;
  Info.ImageSize = 4;
  const std::vector<std::uint8_t> Rest(100, 0);
  EXPECT_EQ(BmpPixelBytes(Info, Rest).size(), 24u);
  EXPECT_EQ(BmpPixelBytes(Info, std::span(Rest).first(10)).size(), 10u);
  Info.BitsPerPixel = 8;
  Info.Compression = bcRLE8;
  EXPECT_EQ(BmpPixelBytes(Info, Rest).size(), 4u);
  Info.ImageSize = 0;
  EXPECT_EQ(BmpPixelBytes(Info, Rest).size(), 100u);
}

TEST(Dib, RunLength8ByWholeRunsEqualsPixelByPixelOnEveryEscape) {
  // A 6 x 4 bitmap; each stream tries one escape or edge, and random streams
  // mix them all.
  std::vector<std::vector<std::uint8_t>> Streams = {
      {3, 7},                                  // a run inside the row
      {4, 1, 5, 2},                            // a run past the right edge
      {6, 1, 3, 9},                            // a run that starts past the right edge
      {0, 3, 1, 2, 3, 0, 2, 4},                // an odd absolute run with its padding, then a run
      {0, 5, 1, 2, 3, 4, 5, 0, 0, 4, 1, 2, 3, 4},  // absolute runs past the right edge
      {2, 8, 0, 7, 1, 2, 3},                   // an absolute run cut short by the end
      {2, 8, 0, 0, 2, 9, 0, 0, 0, 0, 1, 6},    // ends of lines
      {0, 2, 2, 1, 3, 5},                      // a delta inside
      {0, 2, 9, 0, 1, 5, 0, 0, 1, 4},          // a delta past the right edge, then a new line
      {0, 2, 0, 9, 3, 5},                      // a delta past the top row
      {2, 5, 0, 1, 3, 6},                      // the end of the bitmap
      {2, 5, 0},                               // the data ends inside a pair
      {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 5},    // lines past the top row
  };
  std::uint32_t Seed = 12345;
  auto Next = [&] { return Seed = Seed * 1103515245u + 12345u, static_cast<std::uint8_t>(Seed >> 16); };
  for (int I = 0; I < 500; ++I) {
    std::vector<std::uint8_t> S(Next() % 40);
    for (auto& B : S) B = Next() % 4 == 0 ? Next() % 3 : Next() % 9;
    Streams.push_back(S);
  }
  TBmpInfo Info;
  Info.Width = 6;
  Info.Height = 4;
  Info.BitsPerPixel = 8;
  Info.Compression = bcRLE8;
  for (const auto& S : Streams) {
    std::vector<std::uint8_t> Fast(8 * 4, 0), Careful(8 * 4, 0);
    DecodeBmpPixels(Info, S, Fast.data(), 8);
    ExpandRlePixelByPixel(Info, S, Careful.data(), 8);
    EXPECT_EQ(Fast, Careful) << testing::PrintToString(S);
  }
}
