// Smooth resampling in the view: the picture shown smaller than its size is
// averaged, whether painted straight from the graphic or from the render cache;
// larger than its size it keeps whole pixels.
#include <gtest/gtest.h>

#include "support/ViewFixtures.h"

namespace {

// One-pixel black and white stripes, vertical or horizontal.
std::unique_ptr<TBitmap> Stripes(int W, int H, bool Vertical) {
  auto B = std::make_unique<TBitmap>(W, H, pf24bit);
  for (int Y = 0; Y < H; ++Y) {
    std::uint8_t* Row = B->ScanLine(Y);
    for (int X = 0; X < W; ++X) std::fill_n(Row + 3 * X, 3, ((Vertical ? X : Y) & 1) ? 0xFF : 0x00);
  }
  return B;
}

QImage Repaint(TCustomKestImage& V) {
  V.EraseBackground();
  V.Invalidate();
  V.Update();
  return V.ClientSurface().copy();
}

TEST(KestImageResampling, StripesAtAQuarterAreEvenGreyInEveryCacheState) {
  const struct {
    int ClientW, ClientH;
    TScaleMode Mode;
    TCacheState State;
  } Cases[] = {
      {300, 200, smScale, cstNone},   // fits: drawn from the graphic
      {60, 40, smScale, cstScaled},   // scrolls: the cache holds the averaged picture
      {100, 75, smResize, cstNone},   // fitted by the mode
      {100, 75, smStretch, cstNone},
  };
  for (const auto& C : Cases)
    for (bool Vertical : {true, false}) {
      auto V = FixedClientView(C.ClientW, C.ClientH);
      V->SetResampling(rsSmooth);
      TPicture P;
      P.SetGraphic(Stripes(400, 300, Vertical));
      V->SetPicture(&P);
      V->SetScaleMode(C.Mode);
      if (C.Mode == smScale) V->SetScale(0.25);
      ASSERT_EQ(V->RenderCacheState(), C.State) << C.ClientW;
      const QImage Shown = Repaint(*V);
      const TRect R = IntersectRect(V->GetImageRect(), V->ClientRect());
      for (int Y = R.Top; Y < R.Bottom; ++Y)
        for (int X = R.Left; X < R.Right; ++X)
          ASSERT_NEAR(qGray(Shown.pixel(X, Y)), 128, 1) << C.ClientW << " " << Vertical << ": " << X << "," << Y;
    }
}

TEST(KestImageResampling, NearestStaysTheDefaultAndEnlargingKeepsWholePixels) {
  auto Nearest = FixedClientView(200, 150);
  EXPECT_EQ(Nearest->Resampling(), rsNearest);
  auto Smooth = FixedClientView(200, 150);
  Smooth->SetResampling(rsSmooth);
  for (double Scale : {1.0, 2.5, 4.0}) {
    for (auto* V : {Nearest.get(), Smooth.get()}) {
      SetCoordinatePicture(*V, 120, 90);
      V->SetScale(Scale);
    }
    EXPECT_EQ(Repaint(*Smooth), Repaint(*Nearest)) << Scale;
  }
}

TEST(KestImageResampling, SwitchingRepaintsTheScaledCache) {
  auto V = FixedClientView(60, 40);
  TPicture P;
  P.SetGraphic(Stripes(400, 300, true));
  V->SetPicture(&P);
  V->SetScale(0.25);
  ASSERT_EQ(V->RenderCacheState(), cstScaled);
  const QRgb Before = Repaint(*V).pixel(10, 10);
  EXPECT_TRUE(qGray(Before) == 0 || qGray(Before) == 255);
  V->SetResampling(rsSmooth);
  EXPECT_NEAR(qGray(Repaint(*V).pixel(10, 10)), 128, 1);
  V->SetResampling(rsNearest);
  EXPECT_EQ(Repaint(*V).pixel(10, 10), Before);
}

}  // namespace
