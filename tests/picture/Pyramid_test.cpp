#include "picture/scaling/Pyramid.h"
#include "picture/scaling/AreaMean.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include <QImage>
#include <QRegion>

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
  // The first drawing, and the same drawing again, read the picture itself.
  DrawSmooth(*B, 100, 80);
  DrawSmooth(*B, 100, 80);
  EXPECT_EQ(B->PyramidLevels(), 0u);
  DrawSmooth(*B, 120, 96);  // a zoom step: from level 2 (512 x 400)
  EXPECT_EQ(B->PyramidLevels(), 2u);
  DrawSmooth(*B, 60, 48);   // level 3, built from level 2
  DrawSmooth(*B, 100, 80);
  DrawSmooth(*B, 512, 400); // level 2 is exactly this size
  DrawSmooth(*B, 30, 24);   // level 4
  EXPECT_EQ(B->PyramidLevels(), 4u);
  EXPECT_EQ(B->PyramidAllocationCount(), 4u);

  // A change of the pixels drops the levels; the next drawing shows the change
  // and the next zoom step builds them again.
  for (int Y = 0; Y < 1600; ++Y) std::fill_n(B->ScanLine(Y), 3 * 2048, std::uint8_t{0x40});
  EXPECT_EQ(B->PyramidLevels(), 0u);
  QImage Out = DrawSmooth(*B, 100, 80);
  EXPECT_EQ(Out.pixel(17, 33) & 0xFFFFFF, 0x404040u);
  EXPECT_EQ(B->PyramidLevels(), 0u);
  Out = DrawSmooth(*B, 120, 96);
  EXPECT_EQ(Out.pixel(17, 33) & 0xFFFFFF, 0x404040u);
  EXPECT_EQ(B->PyramidLevels(), 2u);
  EXPECT_EQ(B->PyramidAllocationCount(), 6u);
}

// Levels read with one alpha format are of no use once the pixels are read
// with another: after the change the bitmap draws what a bitmap made with the
// new format draws, and a pyramid fed the pixels with another alpha rebuilds.
TEST(TPyramid, AlphaFormatChangeDropsTheLevels) {
  auto Make = [](TAlphaFormat Format) {
    auto B = std::make_unique<TBitmap>(64, 64, pf32bit);
    std::mt19937 Rng(11);
    for (int Y = 0; Y < 64; ++Y) std::generate_n(reinterpret_cast<std::uint32_t*>(B->ScanLine(Y)), 64, [&] { return std::uint32_t(Rng()); });
    B->SetAlphaFormat(Format);
    return B;
  };
  auto Changed = Make(afIgnored), Fresh = Make(afDefined);
  for (TBitmap* B : {Changed.get(), Fresh.get()}) {
    DrawSmooth(*B, 16, 16);
    DrawSmooth(*B, 32, 32);
  }
  Changed->SetAlphaFormat(afDefined);
  EXPECT_EQ(Changed->PyramidLevels(), 0u);
  EXPECT_EQ(DrawSmooth(*Changed, 32, 32), DrawSmooth(*Fresh, 32, 32));

  TPixelView V = Fresh->View();
  TPyramid Reused(0), New(0);
  Reused.LevelFor(V, 32, 32);
  V.Alpha = akStraight;
  const TPixelView A = Reused.LevelFor(V, 32, 32).Pixels, Want = New.LevelFor(V, 32, 32).Pixels;
  EXPECT_EQ(std::memcmp(A.Bits, Want.Bits, static_cast<std::size_t>(A.Stride) * 32), 0);
}

// A level of exactly the target's size is the exact area mean, as is the
// first drawing, made from the picture itself.
TEST(TPyramid, ExactLevelsGiveExactMeans) {
  auto B = NoiseBitmap(1024, 768, 9);
  const QImage First = DrawSmooth(*B, 128, 96);
  EXPECT_EQ(B->PyramidLevels(), 0u);
  DrawSmooth(*B, 100, 75);
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
        EXPECT_NEAR(double((First.pixel(X, Y) >> (8 * Ch)) & 0xFF), Sum / 64, 1.0) << X << "," << Y;
      }
}

// --- Area means straight from the picture --------------------------------------

// Draws SrcRect of S into a W x H image of Fill with the given kernel.
QImage AreaMean(const TPixelView& S, const TRect& SrcRect, int W, int H, const TAreaMeanKernel* Kernel,
                const QRegion* Clip = nullptr, QRgb Fill = 0xFF123456u) {
  QImage Out(W, H, QImage::Format_RGB32);
  Out.fill(Fill);
  AreaMeanBlt(Out, TRect{0, 0, W, H}, Clip, S, SrcRect, Kernel);
  return Out;
}

// The largest difference from the exact area mean in floating point, and the
// PSNR, over all channels of Out, a drawing of the whole of S.
std::pair<double, double> ErrorOfAreaMean(const TPixelView& S, const QImage& Out) {
  const auto Wx = AxisWeights(Out.width(), S.Width), Wy = AxisWeights(Out.height(), S.Height);
  double Squares = 0, Worst = 0;
  for (int Y = 0; Y < Out.height(); ++Y)
    for (int X = 0; X < Out.width(); ++X) {
      double Ref[3] = {0, 0, 0};
      for (auto [Sy, Fy] : Wy[static_cast<std::size_t>(Y)])
        for (auto [Sx, Fx] : Wx[static_cast<std::size_t>(X)]) {
          // Blue, green, red bytes in both formats.
          const std::uint8_t* P = S.Bits + Sy * S.Stride + S.BitsPerPixel / 8 * Sx;
          for (int Ch = 0; Ch < 3; ++Ch) Ref[Ch] += Fx * Fy * P[Ch];
        }
      for (int Ch = 0; Ch < 3; ++Ch) {
        const double E = ((Out.pixel(X, Y) >> (8 * Ch)) & 0xFF) - Ref[Ch];
        Squares += E * E;
        Worst = std::max(Worst, std::abs(E));
      }
    }
  const double N = 3.0 * Out.width() * Out.height();
  return {Worst, 10 * std::log10(255.0 * 255.0 / std::max(Squares / N, 1e-12))};
}

// A 32-bit picture without alpha whose top bytes hold noise, which no drawing may show.
std::unique_ptr<TBitmap> Noise32(int W, int H, unsigned Seed) {
  auto B = std::make_unique<TBitmap>(W, H, pf32bit);
  std::mt19937 Rng(Seed);
  for (int Y = 0; Y < H; ++Y) {
    auto* Row = reinterpret_cast<std::uint32_t*>(B->ScanLine(Y));
    for (int X = 0; X < W; ++X) Row[X] = static_cast<std::uint32_t>(Rng());
  }
  return B;
}

TEST(TAreaMean, IsTheExactAreaMeanAtEveryScale) {
  auto Photo = PhotoBitmap(1003, 751);
  auto Noise = Noise32(517, 389, 4);
  for (const TBitmap* B : {Photo.get(), Noise.get()}) {
    const TPixelView S = B->View();
    ASSERT_TRUE(AreaMeanFits(S, TRect{0, 0, S.Width, S.Height}, 1, 1));
    for (auto [W, H] : {std::pair{S.Width - 1, S.Height - 1},
                        {S.Width * 3 / 4, S.Height / 2},
                        {S.Width / 4, S.Height / 4},
                        {101, 75},
                        {31, 23},
                        {7, 5},
                        {2, 1},
                        {1, 1},
                        {S.Width / 3, S.Height + 50}}) {
      const auto [Worst, Psnr] = ErrorOfAreaMean(S, AreaMean(S, TRect{0, 0, S.Width, S.Height}, W, H, nullptr));
      // Whole-number row sums and single-precision column weights: only the
      // final rounding is left.
      EXPECT_LE(Worst, 0.51) << S.BitsPerPixel << ": " << W << " x " << H;
      EXPECT_GE(Psnr, 50.0) << S.BitsPerPixel << ": " << W << " x " << H;
    }
  }
  // A thousandth of a large picture.
  auto Large = NoiseBitmap(4000, 3000, 8);
  const TPixelView S = Large->View();
  const auto [Worst, Psnr] = ErrorOfAreaMean(S, AreaMean(S, TRect{0, 0, 4000, 3000}, 4, 3, nullptr));
  EXPECT_LE(Worst, 0.51);
  EXPECT_GE(Psnr, 50.0);
}

// Every variant of the two stages, plain and vector, draws the same pixels:
// 24 and 32 bits, shrinking and enlarging axes, part of the picture, a clip.
TEST(TAreaMean, AllVariantsDrawTheSamePixels) {
  const std::vector<TAreaMeanKernel> Kernels = AreaMeanKernels();
  auto Photo = PhotoBitmap(1003, 751);
  auto Noise = Noise32(517, 389, 6);
  QRegion Clip(5, 3, 40, 30);
  Clip += QRect(60, 0, 7, 200);
  struct TCase {
    TRect Src;
    int W, H;
    const QRegion* Clip;
  };
  for (const TBitmap* B : {Photo.get(), Noise.get()}) {
    const TPixelView S = B->View();
    const TRect Whole{0, 0, S.Width, S.Height};
    const TCase Cases[] = {{Whole, S.Width / 4, S.Height / 4, nullptr},
                           {Whole, 333, 211, nullptr},
                           {Whole, 97, 1, nullptr},
                           {Whole, 3, 300, nullptr},
                           {Whole, 250, S.Height + 9, nullptr},
                           {TRect{13, 17, 400, 300}, 129, 95, nullptr},
                           {TRect{-20, 10, 300, 400}, 77, 141, nullptr},
                           {Whole, 171, 133, &Clip}};
    for (const TCase& C : Cases) {
      const QImage Plain = AreaMean(S, C.Src, C.W, C.H, &Kernels[0], C.Clip);
      for (std::size_t K = 1; K < Kernels.size(); ++K)
        EXPECT_TRUE(AreaMean(S, C.Src, C.W, C.H, &Kernels[K], C.Clip) == Plain)
            << S.BitsPerPixel << ": variant " << K << ", " << C.W << " x " << C.H;
    }
  }
}

// Summing rows: random rows, weights and lengths, every variant exact.
TEST(TAreaMean, RowSumsAreExactInEveryVariant) {
  std::mt19937 Rng(12);
  std::vector<std::uint8_t> Bytes(20 * 1000);
  for (auto& V : Bytes) V = static_cast<std::uint8_t>(Rng());
  for (const TAreaMeanKernel& K : AreaMeanKernels())
    for (int N : {1, 2, 3, 7, 8, 9, 17, 20})
      for (int Length : {1, 15, 16, 17, 100, 999}) {
        std::vector<const std::uint8_t*> Rows;
        std::vector<std::int32_t> Weights;
        for (int I = 0; I < N; ++I) {
          Rows.push_back(Bytes.data() + 1000 * I + Rng() % 2);
          Weights.push_back(static_cast<std::int32_t>(Rng() % 32768));
        }
        std::vector<std::int32_t> Acc(static_cast<std::size_t>(Length));
        std::vector<float> Out(static_cast<std::size_t>(Length) + 1, -1.0f);
        K.SumRows(Rows.data(), Weights.data(), N, Length, Acc.data(), Out.data());
        for (int B = 0; B < Length; ++B) {
          std::int64_t Want = 0;
          for (int I = 0; I < N; ++I)
            Want += std::int64_t{Weights[static_cast<std::size_t>(I)]} * Rows[static_cast<std::size_t>(I)][B];
          ASSERT_EQ(Out[static_cast<std::size_t>(B)], static_cast<float>(Want))
              << N << " rows, byte " << B << " of " << Length;
        }
        EXPECT_EQ(Out[static_cast<std::size_t>(Length)], -1.0f);  // nothing written past the end
      }
}

// Quartering 24-bit rows: every variant gives the rounded mean of each 4 x 4
// block, ties to even, and reads no byte past the row.
TEST(TAreaMean, QuarteredRowsAreTheRoundedMeans) {
  std::mt19937 Rng(21);
  for (TQuarterRow24 Quarter : QuarterRow24Variants())
    for (int N : {1, 7, 8, 9, 16, 31, 200}) {
      std::vector<std::vector<std::uint8_t>> Rows(4, std::vector<std::uint8_t>(12 * static_cast<std::size_t>(N)));
      for (auto& R : Rows)
        for (auto& V : R) V = static_cast<std::uint8_t>(Rng() % 3 == 0 ? 255 : Rng());  // many ties
      const std::uint8_t* P[4] = {Rows[0].data(), Rows[1].data(), Rows[2].data(), Rows[3].data()};
      std::vector<std::uint32_t> Out(static_cast<std::size_t>(N));
      Quarter(P, N, Out.data());
      for (int I = 0; I < N; ++I)
        for (int C = 0; C < 3; ++C) {
          int Sum = 0;
          for (int R = 0; R < 4; ++R)
            for (int X = 0; X < 4; ++X) Sum += P[R][12 * I + 3 * X + C];
          const int Mean = Sum / 16, Rest = Sum % 16;
          const int Want = Mean + (Rest > 8 || (Rest == 8 && (Mean & 1)));
          ASSERT_EQ(static_cast<int>((Out[static_cast<std::size_t>(I)] >> (8 * C)) & 0xFF), Want) << N << ": " << I;
        }
      for (std::uint32_t V : Out) ASSERT_EQ(V >> 24, 0xFFu);
    }
}

// Only the pixels inside the clip change, and those as in a drawing without it.
TEST(TAreaMean, KeepsToTheClip) {
  auto B = PhotoBitmap(640, 480);
  const TPixelView S = B->View();
  QRegion Clip(10, 20, 50, 30);
  Clip += QRect(100, 0, 3, 120);
  const QImage All = AreaMean(S, TRect{0, 0, 640, 480}, 150, 113, nullptr);
  const QImage Part = AreaMean(S, TRect{0, 0, 640, 480}, 150, 113, nullptr, &Clip);
  for (int Y = 0; Y < 113; ++Y)
    for (int X = 0; X < 150; ++X)
      ASSERT_EQ(Part.pixel(X, Y), Clip.contains(QPoint(X, Y)) ? All.pixel(X, Y) : 0xFF123456u) << X << "," << Y;
}

// Pictures it cannot draw are left to the pyramid: a colour table, alpha.
TEST(TAreaMean, FitsOnlyOpaquePixelsOfWholeBytes) {
  TBitmap Indexed(64, 64, pf8bit), Alpha(64, 64, pf32bit);
  Alpha.SetAlphaFormat(afDefined);
  TPixelView A = Alpha.View();
  A.Alpha = akStraight;
  EXPECT_FALSE(AreaMeanFits(Indexed.View(), TRect{0, 0, 64, 64}, 16, 16));
  EXPECT_FALSE(AreaMeanFits(A, TRect{0, 0, 64, 64}, 16, 16));
  EXPECT_TRUE(AreaMeanFits(TBitmap(64, 64, pf24bit).View(), TRect{0, 0, 64, 64}, 16, 16));
}

}  // namespace
