// JPEG files as people have them: turned by their EXIF orientation, CMYK and
// YCCK inks, embedded colour profiles.
#include <gtest/gtest.h>

#include <cstdlib>

#include "picture/jpeg/Jpeg.h"
#include "support/PhotoJpeg.h"
#include "support/PhotoTesting.h"

namespace {

using TQuad = std::array<std::uint8_t, 4>;

class JpegPhotoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSavedDefaults = DefaultJpegSettings();
    DefaultJpegSettings() = TJPEGDefaults{};
  }
  void TearDown() override { DefaultJpegSettings() = FSavedDefaults; }

  static std::unique_ptr<TJPEGImage> Load(const std::vector<std::uint8_t>& Bytes) {
    auto J = std::make_unique<TJPEGImage>();
    J->LoadFromStream(*TMemoryStream::Over(Bytes));
    return J;
  }
  static const TBitmap& Decoded(TJPEGImage& J) {
    TBitmap Target(2, 2);
    J.DrawInto(Target.Canvas(), Rect(0, 0, 2, 2));
    return *J.Bitmap();
  }

 private:
  TJPEGDefaults FSavedDefaults;
};


constexpr std::uint32_t Red = 0xFF0000, Green = 0x00FF00, Blue = 0x0000FF, White = 0xFFFFFF;
const TQuad RgbQuadrants[4] = {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {255, 255, 255, 0}};

TEST_F(JpegPhotoTest, OrientationTurnsThePictureAndItsSize) {
  // Which stored quadrant shows at the displayed top-left, top-right and bottom-left corner.
  enum { TL, TR, BL, BR };
  const std::uint32_t Stored[4] = {Red, Green, Blue, White};
  const int Expected[9][3] = {{},           {TL, TR, BL}, {TR, TL, BR}, {BR, BL, TR}, {BL, BR, TL},
                              {TL, BL, TR}, {BL, TL, BR}, {BR, TR, BL}, {TR, BR, TL}};
  for (bool Progressive : {false, true})
    for (int O = 1; O <= 8; ++O) {
      SCOPED_TRACE(::testing::Message() << "orientation " << O << (Progressive ? ", progressive" : ""));
      TPhotoJpeg P;
      P.Orientation = O;
      P.Progressive = Progressive;
      P.Pixel = Quadrants(RgbQuadrants);
      auto J = Load(MakePhotoJpeg(P));
      J->SetProgressiveDisplay(Progressive);
      EXPECT_EQ(J->Orientation(), O);
      const int W = O >= 5 ? 32 : 48, H = O >= 5 ? 48 : 32;
      EXPECT_EQ(J->Width(), W);  // known before the decode
      EXPECT_EQ(J->Height(), H);
      const TBitmap& B = Decoded(*J);
      ASSERT_EQ(B.Width(), W);
      ASSERT_EQ(B.Height(), H);
      EXPECT_TRUE(Near(B.View().PixelAt(0, 0), Stored[Expected[O][0]], 3));
      EXPECT_TRUE(Near(B.View().PixelAt(W - 1, 0), Stored[Expected[O][1]], 3));
      EXPECT_TRUE(Near(B.View().PixelAt(0, H - 1), Stored[Expected[O][2]], 3));
    }
}

TEST_F(JpegPhotoTest, OrientationCanBeTurnedOff) {
  TPhotoJpeg P;
  P.Orientation = 6;
  P.Pixel = Quadrants(RgbQuadrants);
  auto J = Load(MakePhotoJpeg(P));
  EXPECT_EQ(J->Width(), 32);
  Decoded(*J);
  J->SetAutoOrientation(false);  // drops the turned bitmap
  EXPECT_FALSE(J->Decoded());
  EXPECT_EQ(J->Width(), 48);
  EXPECT_EQ(J->Height(), 32);
  EXPECT_TRUE(Near(Decoded(*J).View().PixelAt(0, 0), Red, 3));

  DefaultJpegSettings().AutoOrientation = false;
  EXPECT_EQ(Load(MakePhotoJpeg(P))->Width(), 48);
}

TEST_F(JpegPhotoTest, OrientationHoldsAtReducedScaleAndInCopies) {
  TPhotoJpeg P;
  P.Orientation = 8;
  P.Pixel = Quadrants(RgbQuadrants);
  auto J = Load(MakePhotoJpeg(P));
  J->SetScale(jsHalf);
  EXPECT_EQ(J->Width(), 16);
  EXPECT_EQ(J->Height(), 24);
  TJPEGImage Copy;
  Copy.Assign(J.get());
  EXPECT_EQ(Copy.Width(), 16);
  EXPECT_EQ(Decoded(Copy).Height(), 24);
  EXPECT_TRUE(Near(Copy.Bitmap()->View().PixelAt(0, 0), Green, 3));
}

TEST_F(JpegPhotoTest, InksDecodeToTheirColours) {
  // Ink amounts (C, M, Y, K) and the colour the plain conversion gives:
  // red = (255 - C)(255 - K) / 255, green from M, blue from Y.
  const TQuad Inks[4] = {{0, 255, 255, 0}, {255, 0, 255, 0}, {0, 0, 0, 128}, {64, 128, 0, 32}};
  const std::uint32_t Colors[4] = {0xFF0000, 0x00FF00, 0x7F7F7F, 0xA76FDF};
  struct TCase {
    const char* Name;
    J_COLOR_SPACE Space;
    bool Adobe;
  } Cases[] = {{"CMYK with Adobe's inverted inks", JCS_CMYK, true},
               {"CMYK without Adobe's marker", JCS_CMYK, false},
               {"YCCK", JCS_YCCK, true}};
  for (const TCase& C : Cases)
    for (bool Progressive : {false, true}) {
      SCOPED_TRACE(::testing::Message() << C.Name << (Progressive ? ", progressive display" : ""));
      TPhotoJpeg P;
      P.Space = C.Space;
      P.Adobe = C.Adobe;
      P.Progressive = Progressive;
      P.Pixel = Quadrants(Inks);
      auto J = Load(MakePhotoJpeg(P));
      J->SetProgressiveDisplay(Progressive);
      const TBitmap& B = Decoded(*J);
      ASSERT_EQ(B.BitsPerPixel(), 24);
      EXPECT_TRUE(Near(B.View().PixelAt(2, 2), Colors[0], 4));
      EXPECT_TRUE(Near(B.View().PixelAt(45, 2), Colors[1], 4));
      EXPECT_TRUE(Near(B.View().PixelAt(2, 29), Colors[2], 4));
      EXPECT_TRUE(Near(B.View().PixelAt(45, 29), Colors[3], 4));
    }
}

TEST_F(JpegPhotoTest, InksGoThroughTheirProfile) {
  // Cyan ink, no ink, black ink: through a profile in which cyan ink is yellow.
  const TQuad Inks[4] = {{255, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 255}, {0, 0, 255, 0}};
  for (bool Adobe : {true, false}) {
    SCOPED_TRACE(Adobe ? "Adobe's inverted inks" : "plain inks");
    TPhotoJpeg P;
    P.Space = JCS_CMYK;
    P.Adobe = Adobe;
    P.Profile = MakeSwappedInksProfile();
    P.Pixel = Quadrants(Inks);
    auto J = Load(MakePhotoJpeg(P));
    const TBitmap& B = Decoded(*J);
    // Perceptual mapping into sRGB moves the most saturated colours a little.
    EXPECT_TRUE(Near(B.View().PixelAt(2, 2), 0xFFFF00, 24));
    EXPECT_TRUE(Near(B.View().PixelAt(45, 2), 0xFFFFFF, 24));
    EXPECT_TRUE(Near(B.View().PixelAt(2, 29), 0x000000, 24));
    EXPECT_TRUE(Near(B.View().PixelAt(45, 29), 0x00FFFF, 24));  // yellow ink shows as cyan
  }
}

TEST_F(JpegPhotoTest, InksHonourGrayOutputAndOrientation) {
  const TQuad Inks[4] = {{0, 255, 255, 0}, {0, 0, 0, 0}, {0, 0, 0, 255}, {0, 0, 0, 0}};
  TPhotoJpeg P;
  P.Space = JCS_CMYK;
  P.Orientation = 3;
  P.Pixel = Quadrants(Inks);
  auto J = Load(MakePhotoJpeg(P));
  J->SetForceGrayscale(true);
  const TBitmap& B = Decoded(*J);
  ASSERT_EQ(B.BitsPerPixel(), 8);
  // Turned by 180 degrees: the red quadrant is now bottom-right, at its luma.
  EXPECT_TRUE(Near(B.View().PixelAt(47, 31), 0x4C4C4C, 4));
  EXPECT_TRUE(Near(B.View().PixelAt(47, 0), 0x000000, 4));
}

TEST_F(JpegPhotoTest, ProfileConvertsToSrgb) {
  const std::vector<std::uint8_t> Swapped = MakeSwappedPrimariesProfile();
  std::vector<std::uint8_t> Damaged = Swapped;
  Damaged.resize(Damaged.size() - 40);
  struct TCase {
    const char* Name;
    std::vector<std::uint8_t> Profile;
    std::size_t ChunkSize;
    bool Reversed;
    std::uint32_t TopLeft;  // the stored red quadrant
  } Cases[] = {
      {"no profile", {}, 65519, false, Red},
      {"profile that swaps red and blue", Swapped, 65519, false, Blue},
      {"the same in three chunks, last first", Swapped, Swapped.size() / 3 + 1, true, Blue},
      {"damaged profile: ignored", Damaged, 65519, false, Red},
      {"not a profile: ignored", std::vector<std::uint8_t>(300, 7), 65519, false, Red},
  };
  for (const TCase& C : Cases)
    for (bool EightBit : {false, true}) {
      SCOPED_TRACE(::testing::Message() << C.Name << (EightBit ? ", 8-bit output" : ""));
      TPhotoJpeg P;
      P.Profile = C.Profile;
      P.ChunkSize = C.ChunkSize;
      P.ChunksReversed = C.Reversed;
      P.Pixel = Quadrants(RgbQuadrants);
      auto J = Load(MakePhotoJpeg(P));
      J->SetPixelFormat(EightBit ? jf8Bit : jf24Bit);
      const TBitmap& B = Decoded(*J);
      // Quantised output shows the nearest of 236 colours.
      EXPECT_TRUE(Near(B.View().PixelAt(2, 2), C.TopLeft, EightBit ? 40 : 4));
      EXPECT_TRUE(Near(B.View().PixelAt(45, 2), Green, EightBit ? 40 : 4));
    }
}

TEST_F(JpegPhotoTest, StoredFormKeepsTheFileAndItsOrientation) {
  TPhotoJpeg P;
  P.Orientation = 5;
  P.Profile = MakeSwappedPrimariesProfile();
  P.Pixel = Quadrants(RgbQuadrants);
  const auto Bytes = MakePhotoJpeg(P);
  auto J = Load(Bytes);
  TMemoryStream S;
  J->WriteData(S);
  TJPEGImage Back;
  S.SetPosition(0);
  Back.ReadData(S);
  EXPECT_EQ(Back.Width(), 32);
  EXPECT_EQ(Back.Height(), 48);
  TMemoryStream Again;
  Back.SaveToStream(Again);
  EXPECT_EQ(std::vector<std::uint8_t>(Again.Bytes().begin(), Again.Bytes().end()), Bytes);
}

}  // namespace
