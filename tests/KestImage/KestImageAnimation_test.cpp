// Animated pictures in the view: a new frame repaints only what changed and
// leaves zoom, offset and layout alone.
#include <gtest/gtest.h>

#include "picture/gif/Gif.h"
#include "support/GifFiles.h"
#include "support/ViewFixtures.h"
#include "toolkit/Timer.h"

namespace {

// A W x H animation of two frames: all colour 1, then a 10 x 10 square of
// colour 2 at (20, 30).
std::vector<std::uint8_t> SquareAnimation(int W, int H) {
  TGifFileSpec S;
  S.Width = W;
  S.Height = H;
  S.Loops = 0;
  TGifFrameSpec First;
  First.Width = W;
  First.Height = H;
  First.Index = [](int, int) { return 1; };
  TGifFrameSpec Square;
  Square.Left = 20;
  Square.Top = 30;
  Square.Width = Square.Height = 10;
  Square.Index = [](int, int) { return 2; };
  S.Frames = {First, Square};
  return MakeGif(S);
}

TEST(KestImageAnimation, AFrameRepaintsItsAreaAndKeepsTheView) {
  TManualTimerScheduler Clock;
  SetTimerScheduler(&Clock);
  const auto Bytes = SquareAnimation(400, 300);
  struct TCase {
    const char* Name;
    TScaleMode Mode;
    double Scale;
    TCacheState State;
  } Cases[] = {
      {"scaled cache", smScale, 2.0, cstScaled},
      {"unscaled cache", smNormal, 1.0, cstUnscaled},
      {"drawn straight, stretched", smStretch, 1.0, cstNone},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto V = FixedClientView(200, 150);
    V->SetScaleMode(C.Mode);
    V->SetLockScale(true);
    TPicture P;
    auto G = std::make_unique<TGifImage>();
    G->LoadFromStream(*TMemoryStream::Over(Bytes));
    P.SetGraphic(std::move(G));
    V->SetPicture(&P);
    V->SetScale(C.Scale);
    V->ScrollTo(TPoint{10, 20});
    V->Invalidate();
    V->Update();
    ASSERT_EQ(V->RenderCacheState(), C.State);
    const TPoint Offset = V->Offset();
    int Changes = 0;
    V->OnOffsetChange = [&](TObject*) { ++Changes; };
    V->OnScaleChange = [&](TObject*) { ++Changes; };
    Clock.Advance(100);
    EXPECT_EQ(Changes, 0);
    EXPECT_EQ(V->Offset(), Offset);
    EXPECT_EQ(V->Scale(), C.Scale);
    // Only the square's area, as shown, waits to be painted.
    const TRect Image = V->GetImageRect();
    const double Fx = double(Image.Width()) / 400, Fy = double(Image.Height()) / 300;
    const QRect Square(Image.Left + int(20 * Fx), Image.Top + int(30 * Fy), int(10 * Fx), int(10 * Fy));
    const QRect Invalid = V->InvalidRegion().boundingRect();
    EXPECT_TRUE(Invalid.contains(Square)) << Invalid.x() << "," << Invalid.y() << " " << Invalid.width();
    EXPECT_LE(Invalid.width(), Square.width() + 4);
    EXPECT_LE(Invalid.height(), Square.height() + 4);
    V->Update();
    const QPoint Mid = Square.center();
    EXPECT_EQ(SurfacePixel(*V, Mid.x(), Mid.y()) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(SurfacePixel(*V, Square.left() - 3, Square.top() - 3) & 0xFFFFFF, 0xFF0000u);
  }
  SetTimerScheduler(nullptr);
}

}  // namespace
