#include "toolkit/Blit.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include <QImage>

namespace {

// Random bytes of 300 pixels and some slack, and Fn(N, Offset) for lengths
// around the 16-pixel steps of the fast row loops, from unaligned starts.
template <class F>
void ForRowLengths(unsigned Seed, F&& Fn) {
  std::mt19937 Rng(Seed);
  std::vector<std::uint8_t> In(3 * 300 + 16);
  for (auto& B : In) B = static_cast<std::uint8_t>(Rng());
  for (int N : {0, 1, 15, 16, 17, 31, 32, 33, 100, 255})
    for (int Offset : {0, 1, 5}) Fn(In, N, Offset);
}

TEST(Blit, RowConversionOfEveryProcessorMatchesThePlainOne) {
  auto Variants = ConvertRow24Variants();
  Variants.push_back(ConvertRow24);
  ForRowLengths(7, [&](const std::vector<std::uint8_t>& In, int N, int Offset) {
    std::vector<std::uint32_t> Plain(static_cast<std::size_t>(N) + 1, 7);
    ConvertRow24Scalar(Plain.data(), In.data() + Offset, N);
    for (std::size_t V = 1; V < Variants.size(); ++V) {
      std::vector<std::uint32_t> Fast(Plain.size(), 7);
      Variants[V](Fast.data(), In.data() + Offset, N);
      EXPECT_EQ(Fast, Plain) << "variant " << V << ": " << N << " from " << Offset;
    }
    EXPECT_EQ(Plain[static_cast<std::size_t>(N)], 7u) << "wrote past the row";
  });
  std::uint32_t One;
  const std::uint8_t Bgr[3] = {0x11, 0x22, 0x33};
  ConvertRow24(&One, Bgr, 1);
  EXPECT_EQ(One, 0xFF332211u);
}

TEST(Blit, RedBlueSwapOfEveryProcessorMatchesThePlainOne) {
  auto Variants = SwapRedBlue24Variants();
  Variants.push_back(SwapRedBlue24);
  ForRowLengths(11, [&](const std::vector<std::uint8_t>& In, int N, int Offset) {
    // The plain swap, written out: no variant may touch bytes past the N pixels.
    std::vector<std::uint8_t> Plain = In;
    for (int I = 0; I < N; ++I) std::swap(Plain[std::size_t(Offset + 3 * I)], Plain[std::size_t(Offset + 3 * I + 2)]);
    for (std::size_t V = 0; V < Variants.size(); ++V) {
      std::vector<std::uint8_t> Fast = In;
      Variants[V](Fast.data() + Offset, N);
      EXPECT_EQ(Fast, Plain) << "variant " << V << ": " << N << " from " << Offset;
    }
  });
}

TEST(Blit, OpaqueCopyOfThirtyTwoBitRowsSetsAlphaAndKeepsColours) {
  std::mt19937 Rng(5);
  for (const int W : {1, 7, 8, 9, 33}) {
    const int H = 3;
    std::vector<std::uint8_t> Bits(static_cast<std::size_t>(W * 4 + 4) * H);
    for (auto& B : Bits) B = static_cast<std::uint8_t>(Rng());
    TPixelView V{Bits.data() + 1, W * 4 + 4, W, H, 32};  // rows not on word boundaries
    QImage Dst(W + 2, H, QImage::Format_RGB32);
    Dst.fill(0xFF345678u);
    StretchBlt(Dst, TRect{1, 0, W + 1, H}, nullptr, V, TRect{0, 0, W, H});
    for (int Y = 0; Y < H; ++Y) {
      ASSERT_EQ(Dst.pixel(0, Y), 0xFF345678u);
      ASSERT_EQ(Dst.pixel(W + 1, Y), 0xFF345678u);
      for (int X = 0; X < W; ++X) {
        const std::uint8_t* P = Bits.data() + 1 + std::size_t(Y) * std::size_t(W * 4 + 4) + 4 * std::size_t(X);
        const std::uint32_t Want = 0xFF000000u | std::uint32_t{P[2]} << 16 | std::uint32_t{P[1]} << 8 | P[0];
        ASSERT_EQ(Dst.pixel(X + 1, Y), Want) << X << "," << Y;
      }
    }
  }
}

TEST(Blit, PlainCopyOfTwentyFourBitRowsKeepsEveryPixel) {
  std::mt19937 Rng(3);
  const int W = 67, H = 5;
  std::vector<std::uint8_t> Bits(static_cast<std::size_t>(W * 3 + 3) * H);
  for (auto& B : Bits) B = static_cast<std::uint8_t>(Rng());
  TPixelView V{Bits.data(), W * 3 + 3, W, H, 24};
  QImage Dst(W, H, QImage::Format_RGB32);
  StretchBlt(Dst, TRect{0, 0, W, H}, nullptr, V, TRect{0, 0, W, H});
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) ASSERT_EQ(Dst.pixel(X, Y) & 0xFFFFFF, V.PixelAt(X, Y)) << X << "," << Y;
}

// Alternating opaque blue and fully transparent red, halved over white: the
// red must not show (it would, were colours averaged before their alpha).
TEST(Blit, SmoothReductionWeighsColoursByAlpha) {
  for (TAlphaKind Kind : {akStraight, akPremultiplied}) {
    const std::uint32_t Clear = Kind == akStraight ? 0x00FF0000u : 0x00000000u;
    std::vector<std::uint32_t> Px = {0xFF0000FFu, Clear, 0xFF0000FFu, Clear, 0xFF0000FFu, Clear, 0xFF0000FFu, Clear};
    TPixelView V{reinterpret_cast<const std::uint8_t*>(Px.data()), 16, 4, 2, 32};
    V.Alpha = Kind;
    QImage Dst(2, 1, QImage::Format_RGB32);
    Dst.fill(0xFFFFFFFFu);
    TBlitOptions O;
    O.Resampling = rsSmooth;
    StretchBlt(Dst, TRect{0, 0, 2, 1}, nullptr, V, TRect{0, 0, 4, 2}, O);
    for (int X = 0; X < 2; ++X) {
      const QRgb P = Dst.pixel(X, 0);
      EXPECT_NEAR(qRed(P), 128, 1) << Kind;
      EXPECT_NEAR(qGreen(P), 128, 1) << Kind;
      EXPECT_EQ(qBlue(P), 255) << Kind;
    }
  }
}

TEST(Blit, SmoothEnlargementStaysWholePixels) {
  std::vector<std::uint32_t> Px = {0xFF000000u, 0xFFFFFFFFu, 0xFF808080u, 0xFF102030u};
  TPixelView V{reinterpret_cast<const std::uint8_t*>(Px.data()), 8, 2, 2, 32};
  TBlitOptions O;
  O.Resampling = rsSmooth;
  QImage Smooth(6, 6, QImage::Format_RGB32), Nearest(6, 6, QImage::Format_RGB32);
  StretchBlt(Smooth, TRect{0, 0, 6, 6}, nullptr, V, TRect{0, 0, 2, 2}, O);
  StretchBlt(Nearest, TRect{0, 0, 6, 6}, nullptr, V, TRect{0, 0, 2, 2});
  EXPECT_EQ(Smooth, Nearest);
}

}  // namespace
