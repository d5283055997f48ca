// Cursor files: the first entry's image with its hot spot, two-colour images
// as bitmap cursors, deeper ones as colour cursors, and what is not a cursor.
#include <gtest/gtest.h>

#include <QBitmap>
#include <QPixmap>

#include "picture/BmpBuilder.h"
#include "picture/icon/CursorReader.h"

using namespace bmptest;

namespace {

// A cursor file of one entry: the icon directory with type 2 and the hot spot
// in place of planes and depth.
TBytes CursorFile(const TBytes& Image, std::uint16_t HotX, std::uint16_t HotY, int W = 4, int H = 2) {
  TIcoEntry E;
  E.Width = W;
  E.Height = H;
  E.Image = Image;
  TBytes B = IcoFile({E}, 2);
  B[10] = static_cast<std::uint8_t>(HotX);
  B[11] = static_cast<std::uint8_t>(HotX >> 8);
  B[12] = static_cast<std::uint8_t>(HotY);
  B[13] = static_cast<std::uint8_t>(HotY >> 8);
  return B;
}

// The four pixel kinds of a two-colour cursor, across the top row: XOR and
// AND bits 00 (colour 0), 10 (colour 1), 01 (transparent), 11 (inverted);
// the bottom row is all colour 0.
TBytes TwoColorImage(std::vector<std::uint32_t> Table = {0x000000, 0xFFFFFF}) {
  return IconDib(1, {{0, 1, 0, 1}, {0, 0, 0, 0}}, {{0, 0, 1, 1}, {0, 0, 0, 0}}, Table);
}

// Black (1) or white (0) per pixel of a bitmap cursor's shape, and opaque (1) per pixel of its mask.
TGrid Bits(const QBitmap& B) {
  const QImage I = B.toImage();
  TGrid G(static_cast<std::size_t>(I.height()));
  for (int Y = 0; Y < I.height(); ++Y)
    for (int X = 0; X < I.width(); ++X) G[static_cast<std::size_t>(Y)].push_back((I.pixel(X, Y) & 0xFFFFFF) == 0 ? 1 : 0);
  return G;
}

}  // namespace

TEST(CursorReader, TwoColourImagesBecomeBitmapCursorsWithTheirHotSpot) {
  struct TCase {
    const char* Name;
    std::vector<std::uint32_t> Table;
    TGrid Shape;  // 1: black
  } Cases[] = {
      {"black and white", {0x000000, 0xFFFFFF}, {{1, 0, 0, 1}, {1, 1, 1, 1}}},
      {"table turned round", {0xFFFFFF, 0x000000}, {{0, 1, 0, 1}, {0, 0, 0, 0}}},
  };
  for (const auto& C : Cases) {
    const auto Cursor = ReadCursorFile(CursorFile(TwoColorImage(C.Table), 3, 1));
    ASSERT_TRUE(Cursor) << C.Name;
    EXPECT_EQ(Cursor->hotSpot(), QPoint(3, 1)) << C.Name;
    EXPECT_EQ(Bits(Cursor->bitmap()), C.Shape) << C.Name;
    EXPECT_EQ(Bits(Cursor->mask()), (TGrid{{1, 1, 0, 1}, {1, 1, 1, 1}})) << C.Name;
  }
}

TEST(CursorReader, HotSpotsOutsideTheImageAreKeptInside) {
  const auto Cursor = ReadCursorFile(CursorFile(TwoColorImage(), 40, 9));
  ASSERT_TRUE(Cursor);
  EXPECT_EQ(Cursor->hotSpot(), QPoint(3, 1));
}

TEST(CursorReader, DeeperImagesBecomeColourCursorsThroughTheirMask) {
  const TBytes Image = IconDib(24, {{0x102030, 0x405060}, {0x708090, 0xA0B0C0}}, {{0, 1}, {1, 0}});
  const auto Cursor = ReadCursorFile(CursorFile(Image, 1, 0, 2, 2));
  ASSERT_TRUE(Cursor);
  EXPECT_EQ(Cursor->hotSpot(), QPoint(1, 0));
  const QImage I = Cursor->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(I.size(), QSize(2, 2));
  EXPECT_EQ(I.pixel(0, 0), 0xFF102030u);
  EXPECT_EQ(qAlpha(I.pixel(1, 0)), 0);
  EXPECT_EQ(qAlpha(I.pixel(0, 1)), 0);
  EXPECT_EQ(I.pixel(1, 1), 0xFFA0B0C0u);
}

TEST(CursorReader, RefusesWhatIsNotACursor) {
  const TBytes Good = CursorFile(TwoColorImage(), 0, 0);
  auto Changed = [&](std::size_t At, std::uint8_t V) {
    TBytes B = Good;
    B[At] = V;
    return B;
  };
  TDib Odd;  // a height that does not split into colour and mask rows
  Odd.Width = 4, Odd.Height = 3, Odd.Bpp = 1, Odd.ColorTable = {0, 0xFFFFFF};
  Odd.Pixels.assign(24, 0);
  TBytes OddImage = Odd.HeaderAndTable();
  OddImage.insert(OddImage.end(), Odd.Pixels.begin(), Odd.Pixels.end());
  const std::vector<std::uint32_t> Wide(300, 0);
  const struct {
    const char* Name;
    TBytes Bytes;
  } Cases[] = {
      {"empty", {}},
      {"an icon", Changed(2, 1)},
      {"no images", Changed(4, 0)},
      {"image past the end", Changed(21, 0x10)},
      {"image cut short", Cut(Good, Good.size() - 1)},
      {"odd height", CursorFile(OddImage, 0, 0)},
      {"wider than a cursor", CursorFile(IconDib(1, {Wide}, {Wide}, {0, 0xFFFFFF}), 0, 0, 0, 1)},
      {"no bitmap", CursorFile(TBytes(40, 0), 0, 0)},
  };
  for (const auto& C : Cases) EXPECT_FALSE(ReadCursorFile(C.Bytes)) << C.Name;
}
