#include "picture/Pyramid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include <QImage>

namespace {

// A 24-bit picture of noise: every rounding error of the pyramid shows.
std::unique_ptr<TBitmap> NoiseBitmap(int W, int H, unsigned Seed) {
  auto B = std::make_unique<TBitmap>(W, H, pf24bit);
  std::mt19937 Rng(Seed);
  for (int Y = 0; Y < H; ++Y) {
    std::uint8_t* Row = B->ScanLine(Y);
    for (int X = 0; X < 3 * W; ++X) Row[X] = static_cast<std::uint8_t>(Rng());
  }
  return B;
}

// A photo-like 24-bit picture: soft gradients, a finer texture, sharp-edged
// shapes and a little grain.
std::unique_ptr<TBitmap> PhotoBitmap(int W, int H) {
  auto B = std::make_unique<TBitmap>(W, H, pf24bit);
  std::mt19937 Rng(3);
  for (int Y = 0; Y < H; ++Y) {
    std::uint8_t* Row = B->ScanLine(Y);
    for (int X = 0; X < W; ++X)
      for (int C = 0; C < 3; ++C) {
        double V = 120 + 60 * std::sin(X / 97.0 + C) * std::cos(Y / 71.0 - C) + 20 * std::sin((X + 2 * Y) / 13.0 + C);
        if ((X / 150 + Y / 110) % 5 == C) V += 50;  // blocks with hard edges
        V += static_cast<int>(Rng() % 7) - 3;
        Row[3 * X + C] = static_cast<std::uint8_t>(std::clamp(V, 0.0, 255.0));
      }
  }
  return B;
}

QImage DrawSmooth(TBitmap& B, int W, int H) {
  TBitmap Dst(W, H, pf32bit);
  Dst.Canvas().SetResampling(rsSmooth);
  Dst.Canvas().StretchDraw(TRect{0, 0, W, H}, &B);
  return Dst.Canvas().Surface()->copy();
}

// The weights of the source pixels under each target pixel on one axis: the
// exact share of the target pixel's span, or the pixel under its centre when
// the axis does not shrink.
std::vector<std::vector<std::pair<int, double>>> AxisWeights(int Size, int Extent) {
  std::vector<std::vector<std::pair<int, double>>> All(static_cast<std::size_t>(Size));
  for (int D = 0; D < Size; ++D) {
    auto& W = All[static_cast<std::size_t>(D)];
    if (Size >= Extent) {
      W.push_back({static_cast<int>((2LL * D + 1) * Extent / (2LL * Size)), 1.0});
      continue;
    }
    const double A = double(D) * Extent / Size, B = double(D + 1) * Extent / Size;
    for (int I = int(std::floor(A)); I < B && I < Extent; ++I) {
      const double Part = std::min(B, I + 1.0) - std::max(A, double(I));
      if (Part > 1e-12) W.push_back({I, Part / (B - A)});
    }
  }
  return All;
}

TEST(TPyramid, SmoothDrawingIsTheAreaMeanAtEveryScale) {
  const int W = 1003, H = 751;
  auto B = PhotoBitmap(W, H);
  const TPixelView S = B->View();
  struct TCase {
    int W, H;
  } Cases[] = {{752, 563}, {501, 375}, {371, 278}, {250, 188}, {101, 75}, {31, 23},
               {10, 7},    {2, 1},     {1, 1},     {350, 751}, {501, 1500}};
  for (const TCase& C : Cases) {
    const QImage Out = DrawSmooth(*B, C.W, C.H);
    const auto Wx = AxisWeights(C.W, W), Wy = AxisWeights(C.H, H);
    double Squares = 0, Worst = 0;
    for (int Y = 0; Y < C.H; ++Y)
      for (int X = 0; X < C.W; ++X) {
        double Ref[3] = {0, 0, 0};
        for (auto [Sy, Fy] : Wy[static_cast<std::size_t>(Y)])
          for (auto [Sx, Fx] : Wx[static_cast<std::size_t>(X)]) {
            const std::uint8_t* P = S.Bits + Sy * S.Stride + 3 * Sx;
            for (int Ch = 0; Ch < 3; ++Ch) Ref[Ch] += Fx * Fy * P[Ch];
          }
        for (int Ch = 0; Ch < 3; ++Ch) {
          const double E = ((Out.pixel(X, Y) >> (8 * Ch)) & 0xFF) - Ref[Ch];
          Squares += E * E;
          Worst = std::max(Worst, std::abs(E));
        }
      }
    const double Psnr = 10 * std::log10(255.0 * 255.0 / std::max(Squares / (3.0 * C.W * C.H), 1e-12));
    // Drawn from the picture itself or from a level of many pixels per target pixel.
    if (C.W >= 200) {
      EXPECT_LE(Worst, 1.0) << C.W << " x " << C.H;
    }
    EXPECT_GE(Psnr, 45.0) << C.W << " x " << C.H;
  }
}

// 32-bit pixels with alpha, straight or premultiplied, drawn smooth over a
// grey canvas: each target pixel is the area mean of the premultiplied colours
// with the canvas showing through by the mean's transparency, as computed in
// floating point.
TEST(TPyramid, SmoothDrawingWithAlphaIsThePremultipliedAreaMean) {
  const int W = 613, H = 407;
  const std::uint32_t Below = 0xFF604020u;
  for (TAlphaFormat Format : {afDefined, afPremultiplied}) {
    TBitmap B(W, H, pf32bit);
    std::mt19937 Rng(17);
    std::vector<double> Premultiplied(std::size_t(W) * H * 4);
    for (int Y = 0; Y < H; ++Y) {
      auto* Row = reinterpret_cast<std::uint32_t*>(B.ScanLine(Y));
      for (int X = 0; X < W; ++X) {
        // Transparent holes, opaque patches and soft alpha in between.
        const int Zone = (X / 40 + Y / 30) % 3;
        const std::uint32_t A = Zone == 0 ? 0 : Zone == 1 ? 255 : Rng() & 0xFF;
        std::uint32_t Px = A << 24;
        for (int Ch = 0; Ch < 3; ++Ch) {
          std::uint32_t C = Rng() & 0xFF;
          if (Format == afPremultiplied) C = C * A / 255;
          Px |= C << (8 * Ch);
          Premultiplied[(std::size_t(Y) * W + X) * 4 + Ch] = Format == afPremultiplied ? C : C * A / 255.0;
        }
        Premultiplied[(std::size_t(Y) * W + X) * 4 + 3] = A;
        Row[X] = Px;
      }
    }
    B.SetAlphaFormat(Format);
    for (auto [Tw, Th] : {std::pair{300, 200}, {151, 101}, {40, 27}, {7, 5}, {1, 1}, {613, 100}}) {
      TBitmap Dst(Tw, Th, pf32bit);
      for (int Y = 0; Y < Th; ++Y) std::fill_n(reinterpret_cast<std::uint32_t*>(Dst.ScanLine(Y)), Tw, Below);
      Dst.Canvas().SetResampling(rsSmooth);
      Dst.Canvas().StretchDraw(TRect{0, 0, Tw, Th}, &B);
      const QImage Out = Dst.Canvas().Surface()->copy();
      const auto Wx = AxisWeights(Tw, W), Wy = AxisWeights(Th, H);
      double Squares = 0, Worst = 0;
      for (int Y = 0; Y < Th; ++Y)
        for (int X = 0; X < Tw; ++X) {
          double Ref[4] = {0, 0, 0, 0};
          for (auto [Sy, Fy] : Wy[static_cast<std::size_t>(Y)])
            for (auto [Sx, Fx] : Wx[static_cast<std::size_t>(X)])
              for (int Ch = 0; Ch < 4; ++Ch) Ref[Ch] += Fx * Fy * Premultiplied[(std::size_t(Sy) * W + Sx) * 4 + Ch];
          for (int Ch = 0; Ch < 3; ++Ch) {
            const double Want = Ref[Ch] + ((Below >> (8 * Ch)) & 0xFF) * (1 - Ref[3] / 255);
            const double E = ((Out.pixel(X, Y) >> (8 * Ch)) & 0xFF) - Want;
            Squares += E * E;
            Worst = std::max(Worst, std::abs(E));
          }
        }
      const double Psnr = 10 * std::log10(255.0 * 255.0 / std::max(Squares / (3.0 * Tw * Th), 1e-12));
      EXPECT_GE(Psnr, 45.0) << Format << ": " << Tw << " x " << Th;
      // As for opaque pictures: within a level where many level pixels lie under
      // each target pixel, and close elsewhere (a level cell a target pixel
      // covers in part counts as alike throughout).
      EXPECT_LE(Worst, Tw >= 200 ? 1.0 : 4.0) << Format << ": " << Tw << " x " << Th;
    }
  }
}

TEST(TPyramid, OnePixelStripesAtAQuarterAreEvenGrey) {
  for (int Pattern = 0; Pattern < 3; ++Pattern) {
    TBitmap B(400, 300, pf32bit);
    for (int Y = 0; Y < 300; ++Y) {
      auto* Row = reinterpret_cast<std::uint32_t*>(B.ScanLine(Y));
      for (int X = 0; X < 400; ++X) {
        const int Bit = Pattern == 0 ? X & 1 : Pattern == 1 ? Y & 1 : (X + Y) & 1;
        Row[X] = Bit ? 0xFFFFFFFFu : 0xFF000000u;
      }
    }
    const QImage Out = DrawSmooth(B, 100, 75);
    for (int Y = 0; Y < 75; ++Y)
      for (int X = 0; X < 100; ++X) ASSERT_NEAR(qGray(Out.pixel(X, Y)), 128, 1) << Pattern << ": " << X << "," << Y;
  }
}

TEST(TPyramid, LevelsAreBuiltOnceAcrossZoomStepsAndDroppedOnChange) {
  auto B = NoiseBitmap(2048, 1600, 5);
  DrawSmooth(*B, 100, 80);  // from level 2 (512 x 400)
  EXPECT_EQ(B->PyramidLevels(), 2u);
  DrawSmooth(*B, 120, 96);
  DrawSmooth(*B, 60, 48);   // level 3, built from level 2
  DrawSmooth(*B, 100, 80);
  DrawSmooth(*B, 512, 400); // level 2 is exactly this size
  DrawSmooth(*B, 30, 24);   // level 4
  EXPECT_EQ(B->PyramidLevels(), 4u);
  EXPECT_EQ(B->PyramidAllocationCount(), 4u);

  // A change of the pixels drops the levels; the next drawing shows the change.
  for (int Y = 0; Y < 1600; ++Y) std::fill_n(B->ScanLine(Y), 3 * 2048, std::uint8_t{0x40});
  EXPECT_EQ(B->PyramidLevels(), 0u);
  const QImage Out = DrawSmooth(*B, 100, 80);
  EXPECT_EQ(Out.pixel(17, 33) & 0xFFFFFF, 0x404040u);
  EXPECT_EQ(B->PyramidLevels(), 2u);
  EXPECT_EQ(B->PyramidAllocationCount(), 6u);
}

// A level of exactly the target's size is the exact area mean.
TEST(TPyramid, ExactLevelsGiveExactMeans) {
  auto B = NoiseBitmap(1024, 768, 9);
  const QImage Out = DrawSmooth(*B, 128, 96);
  EXPECT_EQ(B->PyramidLevels(), 3u);
  const TPixelView S = B->View();
  for (int Y : {0, 50, 95})
    for (int X : {0, 77, 127})
      for (int Ch = 0; Ch < 3; ++Ch) {
        double Sum = 0;
        for (int V = 0; V < 8; ++V)
          for (int U = 0; U < 8; ++U) Sum += (S.PixelAt(8 * X + U, 8 * Y + V) >> (8 * Ch)) & 0xFF;
        EXPECT_NEAR(double((Out.pixel(X, Y) >> (8 * Ch)) & 0xFF), Sum / 64, 1.0) << X << "," << Y;
      }
}

}  // namespace
