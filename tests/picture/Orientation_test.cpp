#include "picture/decoding/Orientation.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/PhotoFiles.h"

namespace {

TEST(ExifOrientation, ReadsTheTagInEitherByteOrderAfterOtherTags) {
  for (bool Others : {false, true})
    for (bool Big : {false, true})
      for (int V = 1; V <= 8; ++V) {
        EXPECT_EQ(ReadExifOrientation(MakeExif(V, Big, false, Others)), V) << "big-endian " << Big << ", others " << Others;
        EXPECT_EQ(ReadExifOrientation(MakeExif(V, Big, true, Others)), V) << "with the Exif prefix, big-endian " << Big;
      }
}

TEST(ExifOrientation, DamagedOrMissingTagsReadAsNormal) {
  std::vector<std::uint8_t> Good = MakeExif(6, false, false);
  struct TCase {
    const char* What;
    std::vector<std::uint8_t> Bytes;
  };
  std::vector<TCase> Cases = {{"empty", {}}, {"byte order only", {'I', 'I'}}};
  auto Edit = [&](const char* What, auto Fn) {
    std::vector<std::uint8_t> B = Good;
    Fn(B);
    Cases.push_back({What, B});
  };
  Edit("value 0", [](auto& B) { B[8 + 2 + 8] = 0; });
  Edit("value 9", [](auto& B) { B[8 + 2 + 8] = 9; });
  Edit("wrong magic", [](auto& B) { B[2] = 43; });
  Edit("unknown byte order", [](auto& B) { B[0] = B[1] = 'X'; });
  Edit("directory past the end", [](auto& B) { B[4] = 0xF0; });
  Edit("cut inside the entry count", [](auto& B) { B.resize(9); });
  Edit("tag beyond the entries present", [](auto& B) {
    B[8] = 2;      // two entries claimed, the first another tag
    B[10] = 0x13;
  });
  Edit("another tag", [](auto& B) { B[10] = 0x13; });
  Edit("text type", [](auto& B) { B[12] = 2; });
  Edit("cut inside the entry", [](auto& B) { B.resize(14); });
  for (const TCase& C : Cases) EXPECT_EQ(ReadExifOrientation(C.Bytes), orNormal) << C.What;
}

// A 4 x 3 picture whose four corners have colours of their own, and the
// middle row's first pixel another: an odd height has a row that turns in place.
std::unique_ptr<TBitmap> Corners(int Bpp) {
  auto B = std::make_unique<TBitmap>();
  B->AllocateImage(4, 3, Bpp, true);
  if (Bpp == 8) B->SetColorTable({0x000000, 0x110000, 0x002200, 0x000033, 0x444444, 0x555555});
  const std::uint32_t Colors[5] = {0x110000, 0x002200, 0x000033, 0x444444, 0x555555};  // TL, TR, BL, BR, middle
  const TPoint At[5] = {{0, 0}, {3, 0}, {0, 2}, {3, 2}, {0, 1}};
  for (int K = 0; K < 5; ++K) {
    std::uint8_t* P = B->ScanLine(At[K].Y) + At[K].X * (Bpp / 8);
    if (Bpp == 8)
      *P = static_cast<std::uint8_t>(K + 1);
    else
      std::memcpy(P, &Colors[K], static_cast<std::size_t>(Bpp / 8));
  }
  return B;
}

TEST(ApplyOrientation, CornersLandWhereTheTagSays) {
  // Hand-worked: which stored corner shows at the displayed top-left and top-right.
  enum { TL, TR, BL, BR };
  const std::uint32_t Colors[4] = {0x110000, 0x002200, 0x000033, 0x444444};
  const int Expected[9][2] = {{}, {TL, TR}, {TR, TL}, {BR, BL}, {BL, BR}, {TL, BL}, {BL, TL}, {BR, TR}, {TR, BR}};
  for (int Bpp : {8, 24, 32})
    for (int O = 1; O <= 8; ++O) {
      auto B = Corners(Bpp);
      ApplyOrientation(*B, static_cast<TOrientation>(O));
      const bool Swap = O >= 5;
      ASSERT_EQ(B->Width(), Swap ? 3 : 4) << O;
      ASSERT_EQ(B->Height(), Swap ? 4 : 3) << O;
      const TPixelView V = B->View();
      EXPECT_EQ(V.PixelAt(0, 0), Colors[Expected[O][0]]) << "orientation " << O << ", " << Bpp << " bits";
      EXPECT_EQ(V.PixelAt(B->Width() - 1, 0), Colors[Expected[O][1]]) << "orientation " << O << ", " << Bpp << " bits";
      const TPoint Middle = OrientedPoint(static_cast<TOrientation>(O), 4, 3, 0, 1);
      EXPECT_EQ(V.PixelAt(Middle.X, Middle.Y), 0x555555u) << "orientation " << O << ", " << Bpp << " bits";
    }
}

TEST(OrientedRowWriter, WritesWhatTurningTheWholeBitmapGives) {
  for (int Bpp : {8, 24, 32})
    for (int O = 1; O <= 8; ++O) {
      auto Whole = Corners(Bpp);
      auto Source = Corners(Bpp);
      ApplyOrientation(*Whole, static_cast<TOrientation>(O));
      TBitmap Rows;
      const TPoint Size = OrientedSize(static_cast<TOrientation>(O), 4, 3);
      Rows.AllocateImage(Size.X, Size.Y, Bpp, true);
      Rows.SetColorTable(Source->ColorTable());
      TOrientedRowWriter W(Rows, static_cast<TOrientation>(O), 4, 3);
      for (int Y = 0; Y < 3; ++Y) W.Put(Y, Source->ScanLine(Y));
      EXPECT_TRUE(Rows.Equals(Whole.get())) << "orientation " << O << ", " << Bpp << " bits";
      // All rows in one call.
      TBitmap Together;
      Together.AllocateImage(Size.X, Size.Y, Bpp, true);
      Together.SetColorTable(Source->ColorTable());
      TOrientedRowWriter(Together, static_cast<TOrientation>(O), 4, 3).PutRows(0, Source->ScanLine(0), Source->Stride(), 3);
      EXPECT_TRUE(Together.Equals(Whole.get())) << "orientation " << O << ", " << Bpp << " bits, rows together";
    }
}

TEST(OrientedRows, MapsStoredBandsToTheDisplayedArea) {
  // Rows 1..2 of a 4 x 3 picture.
  EXPECT_EQ(OrientedRows(orNormal, 4, 3, 1, 3), Rect(0, 1, 4, 3));
  EXPECT_EQ(OrientedRows(orRotate180, 4, 3, 1, 3), Rect(0, 0, 4, 2));
  EXPECT_EQ(OrientedRows(orRotate90, 4, 3, 1, 3), Rect(0, 0, 2, 4));
  EXPECT_EQ(OrientedRows(orRotate270, 4, 3, 1, 3), Rect(1, 0, 3, 4));
}

}  // namespace
