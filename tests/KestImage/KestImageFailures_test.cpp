// The view when memory runs out or a picture cannot be drawn: the cache falls
// back, an error reaches the user once, and the view goes on working.
#include <gtest/gtest.h>

#include "picture/BmpBuilder.h"
#include "picture/icon/Icon.h"
#include "support/PixelMemoryFailure.h"
#include "support/ViewFixtures.h"

namespace {

// A zoom step whose cache cannot be had falls back to the cache at the
// picture's own size, and shows the same pixels as a view that had the memory.
TEST(KestImageFailures, ZoomingWithoutMemoryForTheCacheShowsThePicture) {
  auto V = FixedClientView(200, 150);
  SetCoordinatePicture(*V, 600, 500);
  auto Reference = FixedClientView(200, 150);
  SetCoordinatePicture(*Reference, 600, 500);
  for (const double Scale : {2.0, 3.0, 0.5, 2.0}) {
    {
      // Enough for the picture's own size (1.2 MB), not for the enlarged caches.
      TPixelMemoryFailure Fail(2 << 20);
      V->SetScale(Scale);
      V->ScrollTo(TPoint{37, 41});
      EXPECT_EQ(V->RenderCacheState() == cstScaled, Scale < 1) << Scale;
      RepaintAll(*V);
    }
    Reference->SetScale(Scale);
    Reference->ScrollTo(TPoint{37, 41});
    EXPECT_EQ(RepaintAll(*V), RepaintAll(*Reference)) << Scale;
  }
  V->SetScale(2.5);
  EXPECT_EQ(V->RenderCacheState(), cstScaled);
}

// An icon whose image cannot be built raises at its first painting only; the
// paints of later scrolls and zooms show the background.
TEST(KestImageFailures, ABrokenIconIsReportedOnce) {
  using namespace bmptest;
  TBytes Dib = SolidIconDib(16, 16, 0x123456);
  Dib[14] = 2;  // two bits per pixel: no such icon image
  TMemoryStream S(IcoFile({{16, 16, 0, Dib, {}, {}}}));
  auto Icon = std::make_unique<TIcon>();
  Icon->LoadFromStream(S);
  auto V = FixedClientView(200, 150);
  TPicture P;
  P.SetGraphic(std::move(Icon));
  V->SetPicture(&P);
  int Errors = 0;
  for (const double Scale : {1.0, 1.0, 8.0, 16.0, 0.5}) {
    V->SetScale(Scale);
    try {
      const QImage Shown = RepaintAll(*V);
      EXPECT_EQ(Shown.pixel(5, 5) & 0xFFFFFF, ColorToPixel(V->Color()) & 0xFFFFFF);
    } catch (const EOutOfResources& E) {
      EXPECT_EQ(E.Message(), "Out of system resources");
      ++Errors;
    }
  }
  EXPECT_EQ(Errors, 1);
}

}  // namespace
