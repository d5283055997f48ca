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

// Every halving variant against the mean written out: each channel's sum of
// four rounded to nearest, ties to even (sums 2, 6, 10 ... are ties). Rows are
// exactly 6 N bytes so that a read past them shows under the address sanitizer.
TEST(Blit, RowHalvingOfEveryProcessorMatchesTheExactMean) {
  auto Variants = HalveRow24Variants();
  Variants.push_back(HalveRow24);
  std::mt19937 Rng(13);
  for (int N : {0, 1, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 33, 100, 257}) {
    const std::size_t Bytes = 6 * static_cast<std::size_t>(N);
    std::vector<std::uint8_t> R0(Bytes), R1(Bytes);
    for (std::size_t I = 0; I < Bytes; ++I) {
      // Small values make ties frequent; large ones reach the top of the range.
      const unsigned V = Rng();
      R0[I] = static_cast<std::uint8_t>(I % 5 == 0 ? V & 3 : I % 5 == 1 ? 252 | (V & 3) : V);
      R1[I] = static_cast<std::uint8_t>(I % 5 == 0 ? (V >> 8) & 3 : I % 5 == 1 ? 252 | ((V >> 8) & 3) : V >> 8);
    }
    std::vector<std::uint32_t> Want(static_cast<std::size_t>(N) + 1, 7);
    for (int I = 0; I < N; ++I) {
      std::uint32_t P = 0xFF000000u;
      for (int C = 0; C < 3; ++C) {
        const std::size_t At = 6 * static_cast<std::size_t>(I) + static_cast<std::size_t>(C);
        const std::uint32_t S = std::uint32_t{R0[At]} + R0[At + 3] + R1[At] + R1[At + 3];
        const std::uint32_t Q = S / 4, R = S % 4;
        P |= (Q + (R > 2 || (R == 2 && (Q & 1)))) << (8 * C);
      }
      Want[static_cast<std::size_t>(I)] = P;
    }
    for (std::size_t V = 0; V < Variants.size(); ++V) {
      std::vector<std::uint32_t> Got(Want.size(), 7);
      Variants[V](R0.data(), R1.data(), N, Got.data());
      EXPECT_EQ(Got, Want) << "variant " << V << ": " << N;
    }
  }
}

// A level made from premultiplied 32-bit pixels, alpha included, is the
// exact mean of each 2 x 2 block, rounded to nearest with ties to even, over
// widths around the 4- and 8-pixel steps of the vector loops.
TEST(Blit, HalvingOfThirtyTwoBitRowsIsTheExactMean) {
  std::mt19937 Rng(17);
  for (int OutW : {1, 3, 4, 7, 8, 9, 15, 16, 17, 40}) {
    const int W = 2 * OutW, H = 4;
    std::vector<std::uint32_t> Src(static_cast<std::size_t>(W) * H);
    for (auto& P : Src) P = (Rng() & 0x03FF03FFu) | (0xFC00FC00u * (Rng() & 1));  // many ties, and the range's top
    TPixelView View{reinterpret_cast<const std::uint8_t*>(Src.data()), std::ptrdiff_t{W} * 4, W, H, 32};
    View.Alpha = akPremultiplied;
    std::vector<std::uint32_t> Level(static_cast<std::size_t>(OutW) * 2 + 1, 7);
    HalveLevels(TReductionLevel{View, 1}, W, H,
                {TLevelMemory{reinterpret_cast<std::uint8_t*>(Level.data()), std::ptrdiff_t{OutW} * 4}});
    for (int Y = 0; Y < 2; ++Y)
      for (int X = 0; X < OutW; ++X) {
        std::uint32_t Want = 0;
        for (int C = 0; C < 4; ++C) {
          std::uint32_t S = 0;
          for (int V = 0; V < 2; ++V)
            for (int U = 0; U < 2; ++U) S += (Src[std::size_t((2 * Y + V) * W + 2 * X + U)] >> (8 * C)) & 0xFF;
          const std::uint32_t Q = S / 4, R = S % 4;
          Want |= (Q + (R > 2 || (R == 2 && (Q & 1)))) << (8 * C);
        }
        EXPECT_EQ(Level[std::size_t(Y * OutW + X)], Want) << OutW << ": " << X << "," << Y;
      }
    EXPECT_EQ(Level.back(), 7u) << "wrote past the level";
  }
}

// All levels of a picture large enough to be built on two cores, made in one
// call, equal the levels made one call each from the level above, odd sizes
// with their partial last rows and columns included.
TEST(Blit, LevelsBuiltTogetherEqualLevelsBuiltOneByOne) {
  const int W = 1201, H = 1101;
  std::mt19937 Rng(19);
  std::vector<std::uint8_t> Src(std::size_t{3} * W * H);
  for (auto& B : Src) B = static_cast<std::uint8_t>(Rng());
  const TPixelView Source{Src.data(), std::ptrdiff_t{W} * 3, W, H, 24};
  std::vector<std::vector<std::uint32_t>> Together, Alone;
  std::vector<TLevelMemory> Memory;
  std::vector<TPixelView> Views;
  for (int LW = HalfSize(W), LH = HalfSize(H);; LW = HalfSize(LW), LH = HalfSize(LH)) {
    Together.emplace_back(std::size_t(LW) * LH, 7);
    Alone.emplace_back(std::size_t(LW) * LH, 9);
    Memory.push_back(TLevelMemory{reinterpret_cast<std::uint8_t*>(Together.back().data()), std::ptrdiff_t{LW} * 4});
    TPixelView V{reinterpret_cast<const std::uint8_t*>(Alone.back().data()), std::ptrdiff_t{LW} * 4, LW, LH, 32};
    V.Alpha = akPremultiplied;
    Views.push_back(V);
    if (LW == 1 && LH == 1) break;
  }
  HalveLevels(TReductionLevel{Source, 1}, W, H, Memory);
  for (std::size_t K = 0; K < Views.size(); ++K) {
    const TReductionLevel Above = K == 0 ? TReductionLevel{Source, 1} : TReductionLevel{Views[K - 1], 1 << K};
    HalveLevels(Above, W, H,
                {TLevelMemory{reinterpret_cast<std::uint8_t*>(Alone[K].data()), Views[K].Stride}});
    EXPECT_EQ(Together[K], Alone[K]) << "level " << K + 1;
  }
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
