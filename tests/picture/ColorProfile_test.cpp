#include "picture/decoding/ColorProfile.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/PhotoFiles.h"

namespace {

void ExpectNear(const std::uint8_t* Got, std::initializer_list<int> Want, int Tolerance, const char* What) {
  int K = 0;
  for (int W : Want) {
    EXPECT_NEAR(Got[K], W, Tolerance) << What << ", byte " << K;
    ++K;
  }
}

TEST(ColorTransform, SwappedPrimariesComeOutSwapped) {
  auto T = TColorTransform::ToSrgb(MakeSwappedPrimariesProfile(), ppBGR8);
  ASSERT_TRUE(T);
  // Blue, green, red bytes: the profile's red, green, blue and white.
  std::uint8_t Row[] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
  T->Convert(Row, Row, 4);
  ExpectNear(Row, {255, 0, 0}, 3, "red shows as blue");
  ExpectNear(Row + 3, {0, 255, 0}, 3, "green stays green");
  ExpectNear(Row + 6, {0, 0, 255}, 3, "blue shows as red");
  ExpectNear(Row + 9, {255, 255, 255}, 2, "white stays white");
}

TEST(ColorTransform, KeepsAlphaAndConvertsColourTables) {
  auto T = TColorTransform::ToSrgb(MakeSwappedPrimariesProfile(), ppBGRA8);
  ASSERT_TRUE(T);
  std::uint8_t Row[] = {0, 0, 255, 77};
  T->Convert(Row, Row, 1);
  ExpectNear(Row, {255, 0, 0, 77}, 3, "red pixel with alpha 77");
  std::vector<std::uint32_t> Table = {0xFF0000, 0x00FF00};
  T->ConvertTable(Table);
  EXPECT_NEAR(static_cast<int>(Table[0] & 0xFF), 255, 3);
  EXPECT_LE(Table[0] >> 16, 3u);
}

TEST(ColorTransform, SrgbAndGrayProfilesKeepNeutralColours) {
  auto Srgb = TColorTransform::ToSrgb(MakeSrgbProfile(), ppBGR8);
  ASSERT_TRUE(Srgb);
  std::uint8_t Row[] = {10, 128, 240};
  Srgb->Convert(Row, Row, 1);
  ExpectNear(Row, {10, 128, 240}, 1, "sRGB to sRGB");

  auto Gray = TColorTransform::ToSrgb(MakeGrayProfile(), ppGray8);
  ASSERT_TRUE(Gray);
  const std::uint8_t In[] = {0, 255};
  std::uint8_t Out[6];
  Gray->Convert(In, Out, 2);
  ExpectNear(Out, {0, 0, 0, 255, 255, 255}, 2, "black and white");
}

TEST(ColorTransform, UnusableProfilesGiveNoTransform) {
  std::vector<std::uint8_t> Cut = MakeSrgbProfile();
  Cut.resize(Cut.size() / 2);
  std::vector<std::uint8_t> Garbage(600, 0x5A);
  std::vector<std::uint8_t> BadTag = MakeSrgbProfile();
  BadTag[131] = 0xFF;  // tag count: far more tags than the profile holds
  EXPECT_FALSE(TColorTransform::ToSrgb({}, ppBGR8));
  EXPECT_FALSE(TColorTransform::ToSrgb(Cut, ppBGR8));
  EXPECT_FALSE(TColorTransform::ToSrgb(Garbage, ppBGR8));
  EXPECT_FALSE(TColorTransform::ToSrgb(BadTag, ppBGR8));
  // Profiles of another colour space than the pixels.
  EXPECT_FALSE(TColorTransform::ToSrgb(MakeGrayProfile(), ppBGR8));
  EXPECT_FALSE(TColorTransform::ToSrgb(MakeSrgbProfile(), ppCMYK8));
}

TEST(CmykToBgr, PlainAndInvertedInk) {
  struct TCase {
    std::uint8_t C, M, Y, K;
    int B, G, R;
  };
  // Red = (255 - C)(255 - K) / 255, rounded; likewise green from M and blue from Y.
  const TCase Cases[] = {{0, 0, 0, 0, 255, 255, 255},     {0, 255, 255, 0, 0, 0, 255},
                         {255, 0, 255, 0, 0, 255, 0},     {0, 0, 0, 255, 0, 0, 0},
                         {0, 0, 0, 128, 127, 127, 127},   {100, 50, 200, 64, 41, 154, 116}};
  for (const TCase& C : Cases) {
    const std::uint8_t Plain[4] = {C.C, C.M, C.Y, C.K};
    const std::uint8_t Inverted[4] = {static_cast<std::uint8_t>(255 - C.C), static_cast<std::uint8_t>(255 - C.M),
                                      static_cast<std::uint8_t>(255 - C.Y), static_cast<std::uint8_t>(255 - C.K)};
    std::uint8_t A[3], B[3];
    CmykToBgr(Plain, A, 1, false);
    CmykToBgr(Inverted, B, 1, true);
    ExpectNear(A, {C.B, C.G, C.R}, 0, "plain");
    ExpectNear(B, {C.B, C.G, C.R}, 0, "inverted");
  }
}

}  // namespace
