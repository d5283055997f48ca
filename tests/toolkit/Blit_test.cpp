#include "toolkit/Blit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <QImage>
#include <QRegion>

namespace {

constexpr std::uint32_t Sentinel = 0xFF5A5A5Au;

QImage Target(int W, int H) {
  QImage I(W, H, QImage::Format_RGB32);
  I.fill(Sentinel);
  return I;
}

std::uint32_t At(const QImage& I, int X, int Y) { return reinterpret_cast<const std::uint32_t*>(I.constScanLine(Y))[X]; }

TPixelView ViewOver(const void* Bits, std::ptrdiff_t Stride, int W, int H, int Bpp = 32,
                    const std::vector<std::uint32_t>& Palette = {}) {
  TPixelView V;
  V.Bits = static_cast<const std::uint8_t*>(Bits);
  V.Stride = Stride;
  V.Width = W;
  V.Height = H;
  V.BitsPerPixel = Bpp;
  V.Palette = Palette.data();
  V.PaletteSize = static_cast<int>(Palette.size());
  return V;
}

// A 32-bit source whose pixel (x, y) reads 0x00XXYY00: the target then tells
// which source pixel each of its pixels took.
struct TCoordinateSource {
  int W, H;
  std::vector<std::uint32_t> Pixels;
  TCoordinateSource(int AW, int AH) : W(AW), H(AH), Pixels(static_cast<std::size_t>(AW * AH)) {
    for (int Y = 0; Y < H; ++Y)
      for (int X = 0; X < W; ++X) Pixels[static_cast<std::size_t>(Y * W + X)] = Code(X, Y);
  }
  static std::uint32_t Code(int X, int Y) { return static_cast<std::uint32_t>((X & 0xFF) << 16 | (Y & 0xFF) << 8); }
  TPixelView View() const { return ViewOver(Pixels.data(), W * 4, W, H); }
};

// ---------------------------------------------------------------------------
// Pixel formats: each source format read 1:1 into the 32-bit target.

struct TFormatCase {
  const char* Name;
  int Bpp;
  std::vector<std::uint8_t> Rows;  // two rows of four pixels, Stride bytes each
  int Stride;
  std::vector<std::uint32_t> Palette;
  std::uint32_t R, G, B;  // masks
  std::uint32_t Expected[8];  // 0x00RRGGBB, row by row
};

TEST(StretchBlt, EveryPixelFormatReadsToTheSameColours) {
  const std::vector<std::uint32_t> Pal2 = {0x112233, 0xAABBCC};
  std::vector<std::uint32_t> Pal16(16);
  for (int I = 0; I < 16; ++I) Pal16[static_cast<std::size_t>(I)] = static_cast<std::uint32_t>(I * 0x101010);
  const std::vector<std::uint32_t> Pal8 = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0x123456};
  const TFormatCase Cases[] = {
      // 1 bit: the leftmost pixel is the top bit.
      {"1 bit", 1, {0xA0, 0, 0, 0, 0x50, 0, 0, 0}, 4, Pal2, 0, 0, 0,
       {0xAABBCC, 0x112233, 0xAABBCC, 0x112233, 0x112233, 0xAABBCC, 0x112233, 0xAABBCC}},
      // 4 bits: the high nibble is the left pixel.
      {"4 bits", 4, {0x1F, 0x20, 0, 0, 0x0E, 0xD3, 0, 0}, 4, Pal16, 0, 0, 0,
       {0x101010, 0xF0F0F0, 0x202020, 0x000000, 0x000000, 0xE0E0E0, 0xD0D0D0, 0x303030}},
      // 8 bits; an index past the colour table is black.
      {"8 bits", 8, {1, 2, 3, 4, 0, 4, 200, 1}, 4, Pal8, 0, 0, 0,
       {0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0x000000, 0x123456, 0x000000, 0xFF0000}},
      // 16 bits 5-5-5 by default; 16/31 of full scale rounds to 132.
      {"16 bits 555", 16, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0x10, 0x42, 0xFF, 0xFF, 0, 0, 0x01, 0x00, 0x00, 0x04}, 8,
       {}, 0, 0, 0,
       {0xFF0000, 0x00FF00, 0x0000FF, 0x848484, 0xFFFFFF, 0x000000, 0x000008, 0x080000}},
      // 16 bits 5-6-5 from masks; 32/63 of full scale rounds to 130.
      {"16 bits 565", 16, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x00, 0x04, 0x00, 0x08, 0x20, 0x00, 0x01, 0x00, 0, 0}, 8,
       {}, 0xF800, 0x07E0, 0x001F,
       {0xFF0000, 0x00FF00, 0x0000FF, 0x008200, 0x080000, 0x000400, 0x000008, 0x000000}},
      // 24 bits: blue, green, red bytes.
      {"24 bits", 24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 9, 9, 9}, 12, {}, 0, 0, 0,
       {0x030201, 0x060504, 0x090807, 0x0C0B0A, 0x0000FF, 0x00FF00, 0xFF0000, 0x090909}},
      // 32 bits: the top byte is ignored by default.
      {"32 bits", 32, {1, 2, 3, 0x80, 4, 5, 6, 0, 7, 8, 9, 0xFF, 10, 11, 12, 1,
                       0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}, 16, {}, 0, 0, 0,
       {0x030201, 0x060504, 0x090807, 0x0C0B0A, 0x000000, 0xFFFFFF, 0x302010, 0x706050}},
      // 32 bits with the channels in the other order.
      {"32 bits BGR masks", 32, {0x11, 0x22, 0x33, 0, 0xFF, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0,
                                 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}, 16, {},
       0x000000FF, 0x0000FF00, 0x00FF0000,
       {0x112233, 0xFF0000, 0x0000FF, 0x00FF00, 0x010203, 0x000000, 0x000000, 0xFFFFFF}},
      // 32 bits with 10-bit channels: 512/1023 of full scale rounds to 128.
      {"32 bits 10-10-10", 32, {0x00, 0x00, 0xF0, 0x3F, 0x00, 0xFC, 0x0F, 0x00, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00,
                                0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x3F, 0x00, 0x00, 0x00, 0x20, 0x00, 0x02, 0, 0}, 16, {},
       0x3FF00000, 0x000FFC00, 0x000003FF,
       {0xFF0000, 0x00FF00, 0x0000FF, 0x008000, 0x000000, 0xFFFFFF, 0x800000, 0x000080}},
  };
  for (const TFormatCase& C : Cases) {
    TPixelView V = ViewOver(C.Rows.data(), C.Stride, 4, 2, C.Bpp, C.Palette);
    V.RedMask = C.R;
    V.GreenMask = C.G;
    V.BlueMask = C.B;
    QImage T = Target(4, 2);
    StretchBlt(T, TRect{0, 0, 4, 2}, nullptr, V, TRect{0, 0, 4, 2});
    for (int I = 0; I < 8; ++I) {
      EXPECT_EQ(At(T, I % 4, I / 4), 0xFF000000u | C.Expected[I]) << C.Name << " pixel " << I;
      EXPECT_EQ(V.PixelAt(I % 4, I / 4), C.Expected[I]) << C.Name << " pixel " << I;
    }
    // Stretched copies read through the other paths: the same colours.
    QImage S = Target(8, 4);
    StretchBlt(S, TRect{0, 0, 8, 4}, nullptr, V, TRect{0, 0, 4, 2});
    for (int I = 0; I < 8; ++I) EXPECT_EQ(At(S, 2 * (I % 4) + 1, 2 * (I / 4) + 1), 0xFF000000u | C.Expected[I]) << C.Name;
  }
}

TEST(StretchBlt, PixelAtOutsideTheViewIsBlack) {
  const TCoordinateSource Src(3, 2);
  const TPixelView V = Src.View();
  for (const TPoint P : {TPoint{-1, 0}, TPoint{0, -1}, TPoint{3, 0}, TPoint{0, 2}}) EXPECT_EQ(V.PixelAt(P.X, P.Y), 0u);
  EXPECT_EQ(V.PixelAt(2, 1), TCoordinateSource::Code(2, 1));
}

TEST(StretchBlt, MonochromeColoursReplaceTheColourTable) {
  const std::uint8_t Bits[] = {0x60, 0, 0, 0};  // 0 1 1 0
  const std::vector<std::uint32_t> Pal = {0x111111, 0x222222};
  TPixelView V = ViewOver(Bits, 4, 4, 1, 1, Pal);
  TBlitOptions O;
  O.MonoForeground = 0x0000FF;  // 0 bits
  O.MonoBackground = 0xFFFF00;  // 1 bits
  QImage T = Target(4, 1);
  StretchBlt(T, TRect{0, 0, 4, 1}, nullptr, V, TRect{0, 0, 4, 1}, O);
  EXPECT_EQ(At(T, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(At(T, 1, 0), 0xFFFFFF00u);
  EXPECT_EQ(At(T, 2, 0), 0xFFFFFF00u);
  EXPECT_EQ(At(T, 3, 0), 0xFF0000FFu);

  // Only monochrome sources take them.
  const std::uint8_t Index[] = {0, 1, 0, 0};
  V.Bits = Index;
  V.BitsPerPixel = 8;
  StretchBlt(T, TRect{0, 0, 4, 1}, nullptr, V, TRect{0, 0, 4, 1}, O);
  EXPECT_EQ(At(T, 0, 0), 0xFF111111u);
  EXPECT_EQ(At(T, 1, 0), 0xFF222222u);
}

// ---------------------------------------------------------------------------
// Nearest-neighbour stretching: target offset d takes source offset
// floor((d + 0.5) * srcSize / dstSize), on each axis with its own factor.

TEST(StretchBlt, StretchPicksThePixelUnderEachTargetCentre) {
  const struct {
    int Sw, Sh, Dw, Dh;
    std::vector<int> Cols, Rows;  // hand-worked source column and row per target offset
  } Cases[] = {
      {5, 3, 3, 7, {0, 2, 4}, {0, 0, 1, 1, 1, 2, 2}},             // narrower and taller
      {5, 3, 8, 2, {0, 0, 1, 2, 2, 3, 4, 4}, {0, 2}},             // wider and shorter
      {4, 4, 2, 2, {1, 3}, {1, 3}},                                // halved: the second of each pair
      {2, 1, 6, 3, {0, 0, 0, 1, 1, 1}, {0, 0, 0}},                 // tripled
      {3, 2, 3, 2, {0, 1, 2}, {0, 1}},                             // same size
      {7, 1, 2, 1, {1, 5}, {0}},
  };
  for (const auto& C : Cases) {
    const TCoordinateSource Src(C.Sw, C.Sh);
    QImage T = Target(C.Dw, C.Dh);
    StretchBlt(T, TRect{0, 0, C.Dw, C.Dh}, nullptr, Src.View(), TRect{0, 0, C.Sw, C.Sh});
    for (int Y = 0; Y < C.Dh; ++Y)
      for (int X = 0; X < C.Dw; ++X)
        EXPECT_EQ(At(T, X, Y), 0xFF000000u | TCoordinateSource::Code(C.Cols[static_cast<std::size_t>(X)],
                                                                      C.Rows[static_cast<std::size_t>(Y)]))
            << C.Sw << "x" << C.Sh << " to " << C.Dw << "x" << C.Dh << " at " << X << "," << Y;
  }
}

TEST(StretchBlt, LargeCopiesSplitAcrossThreadsGiveTheSamePixels) {
  // Large enough for the two-thread paths: a plain enlargement and a strong
  // reduction (at least eight source columns per target column).
  const struct {
    int Sw, Sh, Dw, Dh;
  } Cases[] = {{300, 200, 1030, 700}, {2100, 700, 256, 170}, {640, 480, 640, 480}};
  for (const auto& C : Cases) {
    const TCoordinateSource Src(C.Sw, C.Sh);
    QImage T = Target(C.Dw, C.Dh);
    StretchBlt(T, TRect{0, 0, C.Dw, C.Dh}, nullptr, Src.View(), TRect{0, 0, C.Sw, C.Sh});
    int Wrong = 0;
    for (int Y = 0; Y < C.Dh; ++Y)
      for (int X = 0; X < C.Dw; ++X) {
        const int Sx = static_cast<int>(std::floor((X + 0.5) * C.Sw / C.Dw));
        const int Sy = static_cast<int>(std::floor((Y + 0.5) * C.Sh / C.Dh));
        Wrong += At(T, X, Y) != (0xFF000000u | TCoordinateSource::Code(Sx, Sy));
      }
    EXPECT_EQ(Wrong, 0) << C.Sw << "x" << C.Sh << " to " << C.Dw << "x" << C.Dh;
  }
}

TEST(StretchBlt, SourceRectangleOffsetAndPartlyOutsideTheSource) {
  const TCoordinateSource Src(4, 3);
  // Source rectangle starting inside: (d) takes (d + 1, row + 1).
  QImage T = Target(3, 2);
  StretchBlt(T, TRect{0, 0, 3, 2}, nullptr, Src.View(), TRect{1, 1, 4, 3});
  EXPECT_EQ(At(T, 0, 0), 0xFF000000u | TCoordinateSource::Code(1, 1));
  EXPECT_EQ(At(T, 2, 1), 0xFF000000u | TCoordinateSource::Code(3, 2));

  // Target pixels whose source lies outside the source keep their colour,
  // on the left, the right, above and below.
  QImage U = Target(7, 5);
  StretchBlt(U, TRect{0, 0, 7, 5}, nullptr, Src.View(), TRect{-2, -1, 5, 4});
  for (int Y = 0; Y < 5; ++Y)
    for (int X = 0; X < 7; ++X) {
      const int Sx = X - 2, Sy = Y - 1;
      const bool Inside = Sx >= 0 && Sx < 4 && Sy >= 0 && Sy < 3;
      EXPECT_EQ(At(U, X, Y), Inside ? 0xFF000000u | TCoordinateSource::Code(Sx, Sy) : Sentinel) << X << "," << Y;
    }
}

TEST(StretchBlt, WritesOnlyInsideTheTargetAndTheClip) {
  const TCoordinateSource Src(10, 6);
  // A target rectangle that sticks out of the image on every side.
  QImage T = Target(6, 4);
  StretchBlt(T, TRect{-2, -1, 8, 5}, nullptr, Src.View(), TRect{0, 0, 10, 6});
  for (int Y = 0; Y < 4; ++Y)
    for (int X = 0; X < 6; ++X) EXPECT_EQ(At(T, X, Y), 0xFF000000u | TCoordinateSource::Code(X + 2, Y + 1));

  // A clip of two rectangles: nothing outside them changes.
  QImage C = Target(6, 4);
  const QRegion Clip = QRegion(0, 0, 2, 4) + QRegion(4, 1, 2, 2);
  StretchBlt(C, TRect{0, 0, 6, 4}, &Clip, Src.View(), TRect{0, 0, 6, 4});
  for (int Y = 0; Y < 4; ++Y)
    for (int X = 0; X < 6; ++X)
      EXPECT_EQ(At(C, X, Y), Clip.contains(QPoint(X, Y)) ? 0xFF000000u | TCoordinateSource::Code(X, Y) : Sentinel)
          << X << "," << Y;
}

TEST(StretchBlt, NothingHappensForEmptyOrUnusableArguments) {
  const TCoordinateSource Src(4, 4);
  TPixelView NoBits = Src.View();
  NoBits.Bits = nullptr;
  const struct {
    const char* Why;
    TRect Dst, SrcRect;
    TPixelView View;
  } Cases[] = {
      {"empty target", TRect{1, 1, 1, 3}, TRect{0, 0, 4, 4}, Src.View()},
      {"flipped target", TRect{3, 0, 1, 3}, TRect{0, 0, 4, 4}, Src.View()},
      {"empty source rectangle", TRect{0, 0, 4, 4}, TRect{2, 2, 2, 4}, Src.View()},
      {"no bits", TRect{0, 0, 4, 4}, TRect{0, 0, 4, 4}, NoBits},
      {"target beside the image", TRect{4, 0, 8, 4}, TRect{0, 0, 4, 4}, Src.View()},
  };
  for (const auto& C : Cases) {
    QImage T = Target(4, 4);
    StretchBlt(T, C.Dst, nullptr, C.View, C.SrcRect);
    EXPECT_EQ(T, Target(4, 4)) << C.Why;
  }
  QImage Indexed(4, 4, QImage::Format_Indexed8);
  Indexed.fill(3);
  StretchBlt(Indexed, TRect{0, 0, 4, 4}, nullptr, Src.View(), TRect{0, 0, 4, 4});
  EXPECT_EQ(Indexed.pixelIndex(1, 1), 3);
}

TEST(StretchBlt, TransparentColourLeavesTheTargetAlsoInRepeatedRows) {
  // Source row: red, key, blue, key (the key with another top byte).
  const std::uint32_t Row[] = {0x00FF0000, 0x7F00FF00, 0x000000FF, 0x0000FF00};
  const TPixelView V = ViewOver(Row, 16, 4, 1);
  TBlitOptions O;
  O.TransparentColor = 0xFF00FF00u;
  // Each target row has its own colour, which must show through in every
  // row, also in rows that repeat the source row above them.
  auto Background = [](int Y) { return 0xFF000000u | 0x101010u * static_cast<std::uint32_t>(Y + 1); };
  for (const TRect Dst : {TRect{0, 0, 4, 1}, TRect{0, 0, 8, 3}}) {
    QImage T = Target(Dst.Width(), Dst.Height());
    for (int Y = 0; Y < Dst.Height(); ++Y)
      for (int X = 0; X < Dst.Width(); ++X) T.setPixel(X, Y, Background(Y));
    StretchBlt(T, Dst, nullptr, V, TRect{0, 0, 4, 1}, O);
    const int F = Dst.Width() / 4;
    for (int Y = 0; Y < Dst.Height(); ++Y)
      for (int X = 0; X < Dst.Width(); ++X) {
        const std::uint32_t S = Row[X / F];
        EXPECT_EQ(At(T, X, Y), (S & 0xFFFFFF) == 0x00FF00 ? Background(Y) : (0xFF000000u | S)) << X << "," << Y;
      }
  }
}

// ---------------------------------------------------------------------------
// Halftone: each target pixel averages the source pixels it covers, halves
// rounded up; when enlarging, each covers exactly one.

TPixelView GrayRow(const std::vector<std::uint8_t>& Levels, std::vector<std::uint32_t>& Store, int W) {
  Store.clear();
  for (std::uint8_t L : Levels) Store.push_back(L * 0x010101u);
  return ViewOver(Store.data(), W * 4, W, static_cast<int>(Levels.size()) / W);
}

TEST(StretchBlt, HalftoneAveragesTheCoveredPixelsWithHalvesRoundedUp) {
  std::vector<std::uint32_t> Store;
  TBlitOptions O;
  O.Halftone = true;
  const struct {
    std::vector<std::uint8_t> Levels;
    int Sw, Dw, Dh;
    std::vector<std::uint8_t> Expected;
  } Cases[] = {
      // 4 x 2 into 2 x 1: blocks {10, 11, 12, 13} = 11.5 -> 12 and {0, 0, 1, 0} = 0.25 -> 0.
      {{10, 11, 0, 0, 12, 13, 1, 0}, 4, 2, 1, {12, 0}},
      // 3 x 1 into 2 x 1: the first covers one pixel, the second two.
      {{90, 10, 21}, 3, 2, 1, {90, 16}},
      // 4 x 4 into 2 x 2.
      {{0, 0, 255, 255, 0, 0, 255, 255, 100, 100, 1, 2, 100, 101, 3, 3}, 4, 2, 2, {0, 255, 100, 2}},
  };
  for (const auto& C : Cases) {
    const TPixelView V = GrayRow(C.Levels, Store, C.Sw);
    QImage T = Target(C.Dw, C.Dh);
    StretchBlt(T, TRect{0, 0, C.Dw, C.Dh}, nullptr, V, TRect{0, 0, C.Sw, V.Height}, O);
    for (int I = 0; I < C.Dw * C.Dh; ++I)
      EXPECT_EQ(At(T, I % C.Dw, I / C.Dw), 0xFF000000u | C.Expected[static_cast<std::size_t>(I)] * 0x010101u)
          << "case " << C.Sw << " pixel " << I;
  }
}

TEST(StretchBlt, HalftoneEnlargingTakesTheOneSourcePixelUnderEachTargetPixel) {
  // 2 x 2 into 5 x 3: columns 0 0 0 1 1 (the covering pixel, floor(d * 2 / 5)),
  // rows 0 0 1; a target pixel is never left without a source.
  const TCoordinateSource Src(2, 2);
  TBlitOptions O;
  O.Halftone = true;
  QImage T = Target(5, 3);
  StretchBlt(T, TRect{0, 0, 5, 3}, nullptr, Src.View(), TRect{0, 0, 2, 2}, O);
  const int Cols[] = {0, 0, 0, 1, 1}, Rows[] = {0, 0, 1};
  for (int Y = 0; Y < 3; ++Y)
    for (int X = 0; X < 5; ++X)
      EXPECT_EQ(At(T, X, Y), 0xFF000000u | TCoordinateSource::Code(Cols[X], Rows[Y])) << X << "," << Y;
}

TEST(StretchBlt, HalftoneCountsOnlyPixelsInsideTheSource) {
  // A source rectangle reaching one pixel left of the source: the first target
  // pixel covers (-1, 0) and (0, 0) and takes (0, 0) alone.
  std::vector<std::uint32_t> Store;
  const TPixelView V = GrayRow({40, 80}, Store, 2);
  TBlitOptions O;
  O.Halftone = true;
  QImage T = Target(2, 1);
  StretchBlt(T, TRect{0, 0, 2, 1}, nullptr, V, TRect{-1, 0, 3, 1}, O);
  EXPECT_EQ(At(T, 0, 0), 0xFF282828u);
  EXPECT_EQ(At(T, 1, 0), 0xFF505050u);
  // Entirely outside: the target keeps its colour.
  QImage U = Target(2, 1);
  StretchBlt(U, TRect{0, 0, 2, 1}, nullptr, V, TRect{5, 0, 9, 1}, O);
  EXPECT_EQ(At(U, 0, 0), Sentinel);
}

TEST(FillPixels, FillsTheRectangleWithinTheImageAndTheClip) {
  QImage T = Target(5, 4);
  FillPixels(T, TRect{-3, 1, 3, 9}, nullptr, 0xFF010203u);
  for (int Y = 0; Y < 4; ++Y)
    for (int X = 0; X < 5; ++X) EXPECT_EQ(At(T, X, Y), X < 3 && Y >= 1 ? 0xFF010203u : Sentinel) << X << "," << Y;

  // Pixels of four equal bytes fill by bytes, others by copying the first row.
  for (const std::uint32_t Pixel : {0xFF0000FFu, 0xFFFFFFFFu, 0u}) {
    QImage C = Target(5, 4);
    const QRegion Clip = QRegion(1, 1, 2, 2) + QRegion(3, 0, 2, 1);
    FillPixels(C, TRect{0, 0, 5, 4}, &Clip, Pixel);
    for (int Y = 0; Y < 4; ++Y)
      for (int X = 0; X < 5; ++X) EXPECT_EQ(At(C, X, Y), Clip.contains(QPoint(X, Y)) ? Pixel : Sentinel) << Pixel;
  }
}

TEST(ViewOf, ReadsTheImagesOwnPixels) {
  QImage I = Target(3, 2);
  I.setPixel(2, 1, 0xFF102030u);
  const TPixelView V = ViewOf(I);
  EXPECT_EQ(V.Width, 3);
  EXPECT_EQ(V.Height, 2);
  EXPECT_EQ(V.PixelAt(2, 1), 0x102030u);
  EXPECT_EQ(V.PixelAt(0, 0), Sentinel & 0xFFFFFF);
}

}  // namespace
