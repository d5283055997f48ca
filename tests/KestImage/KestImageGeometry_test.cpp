// Where the picture sits: scroll range, offset, alignment, scrolling and the
// image rectangle, observed in the model and on the client surface.
#include <gtest/gtest.h>

#include "support/ViewFixtures.h"

namespace {

TEST(KestImageGeometry, SmallPictureIsAlignedInsideTheClientArea) {
  const struct {
    TImageAlignment Alignment;
    TBiDiMode BiDi;
    TPoint Offset;
  } Cases[] = {
      {iaCenter, bdLeftToRight, {-50, -25}},  {iaTopLeft, bdLeftToRight, {0, 0}},
      {iaTopRight, bdLeftToRight, {-101, 0}}, {iaTopRight, bdRightToLeft, {0, 0}},
      {iaTopLeft, bdRightToLeft, {-101, 0}},  {iaCenter, bdRightToLeft, {-50, -25}},
  };
  for (const auto& C : Cases) {
    auto V = FixedClientView(201, 151);
    V->SetScaleMode(smNormal);
    V->SetBiDiMode(C.BiDi);
    SetCoordinatePicture(*V, 100, 100);
    V->SetImageAlignment(C.Alignment);
    EXPECT_EQ(V->MaxOffset(), (TPoint{-101, -51}));
    EXPECT_EQ(V->Offset(), C.Offset) << C.Alignment << " " << C.BiDi;
    const TRect R = V->GetImageRect();
    EXPECT_EQ(R, (TRect{-C.Offset.X, -C.Offset.Y, 100 - C.Offset.X, 100 - C.Offset.Y}));
    // On screen: the picture's corner where the rectangle says, background around it.
    V->Update();
    EXPECT_EQ(DecodeCoordinate(SurfacePixel(*V, R.Left, R.Top)), QPoint(0, 0));
    EXPECT_EQ(DecodeCoordinate(SurfacePixel(*V, R.Right - 1, R.Bottom - 1)), QPoint(99, 99));
    if (R.Left > 0) {
      EXPECT_EQ(SurfacePixel(*V, R.Left - 1, R.Top), ColorToPixel(clWindow));
    }
  }
}

TEST(KestImageGeometry, StretchFillsTheClientArea) {
  auto V = FixedClientView(201, 151);
  SetCoordinatePicture(*V, 30, 40);
  V->SetScaleMode(smStretch);
  EXPECT_EQ(V->MaxOffset(), (TPoint{-1, -1}));
  EXPECT_EQ(V->GetImageRect(), (TRect{0, 0, 201, 151}));
  V->SetImageAlignment(iaTopRight);
  EXPECT_EQ(V->Offset(), (TPoint{-1, 0}));
  EXPECT_EQ(V->GetImageRect(), (TRect{0, 0, 201, 151}));
  V->SetImageAlignment(iaCenter);
  EXPECT_EQ(V->Offset(), (TPoint{0, 0}));
}

TEST(KestImageGeometry, EmptyPictureDoesNotScroll) {
  for (TScaleMode M : {smNormal, smScale}) {
    auto V = FixedClientView(120, 90);
    V->SetScaleMode(M);
    SetCoordinatePicture(*V, 10, 10);
    V->SetPicture(nullptr);
    EXPECT_EQ(V->MaxOffset(), (TPoint{-120, -90}));
    EXPECT_TRUE(V->GetImageRect().IsEmpty());
  }
}

TEST(KestImageGeometry, ScrollToClampsAndReportsOnlyMoves) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  int Events = 0;
  V->OnOffsetChange = [&](TObject*) { ++Events; };
  V->ScrollTo(TPoint{5000, 5000});
  EXPECT_EQ(V->Offset(), (TPoint{600, 500}));
  V->ScrollTo(TPoint{-7, 20});
  EXPECT_EQ(V->Offset(), (TPoint{0, 20}));
  EXPECT_EQ(Events, 2);
  V->ScrollTo(TPoint{-1, 20});
  EXPECT_EQ(Events, 2);
  EXPECT_EQ(V->GetViewCenter(), (TPoint{200, 170}));
  V->CenterOn(TPoint{500, 400});
  EXPECT_EQ(V->Offset(), (TPoint{300, 250}));
}

TEST(KestImageGeometry, SmallScrollsMovePixelsLargeJumpsRepaintAll) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 2000, 1000);
  V->Update();
  V->ScrollTo(TPoint{200, 0});  // exactly half the width: pixels move
  EXPECT_EQ(V->InvalidRegion(), QRegion(200, 0, 200, 300));
  EXPECT_EQ(DecodeCoordinate(SurfacePixel(*V, 0, 10)), QPoint(200, 10));
  V->Update();
  EXPECT_EQ(DecodeCoordinate(SurfacePixel(*V, 399, 10)), QPoint(599, 10));
  V->ScrollTo(TPoint{401, 0});  // 201 pixels: everything is repainted
  EXPECT_EQ(V->InvalidRegion(), QRegion(0, 0, 400, 300));
  V->Update();
  EXPECT_EQ(DecodeCoordinate(SurfacePixel(*V, 0, 0)), QPoint(401, 0));
}

TEST(KestImageGeometry, NewRangeIsReportedEvenWhenTheOffsetStays) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  int Events = 0;
  V->OnOffsetChange = [&](TObject*) { ++Events; };
  V->SetMaxOffset(V->MaxOffset());
  EXPECT_EQ(Events, 0);
  V->SetMaxOffset(TPoint{700, 600});
  EXPECT_EQ(Events, 1);
  EXPECT_EQ(V->Offset(), (TPoint{0, 0}));
  // A smaller range pulls the offset in without moving pixels.
  V->ScrollTo(TPoint{650, 550});
  V->SetMaxOffset(TPoint{100, 800});
  EXPECT_EQ(V->Offset(), (TPoint{100, 550}));
}

TEST(KestImageGeometry, ResizeReAlignsWhenAnAxisStartsToScroll) {
  // A wide picture: the horizontal axis scrolls, the vertical one never does,
  // so every resize puts the scrolling axis back to its aligned position.
  auto V = FixedClientView(400, 300);
  V->SetImageAlignment(iaCenter);
  SetCoordinatePicture(*V, 1000, 100);
  EXPECT_EQ(V->Offset(), (TPoint{300, -100}));
  V->ScrollTo(TPoint{10, 0});
  V->SetBounds(0, 0, 517, 317);  // client 500 x 300
  EXPECT_EQ(V->Offset(), (TPoint{250, -100}));

  // Both axes scrolled before: the offset stays, apart from clamping.
  SetCoordinatePicture(*V, 1000, 1000);
  V->ScrollTo(TPoint{100, 650});
  V->SetBounds(0, 0, 417, 417);  // client 400 x 400
  EXPECT_EQ(V->Offset(), (TPoint{100, 600}));
}

TEST(KestImageGeometry, AlignmentWriteAlwaysReAligns) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  V->SetImageAlignment(iaCenter);
  V->ScrollTo(TPoint{0, 0});
  V->Update();
  int Events = 0;
  V->OnOffsetChange = [&](TObject*) { ++Events; };
  V->SetImageAlignment(iaCenter);
  EXPECT_EQ(V->Offset(), (TPoint{300, 250}));
  EXPECT_EQ(Events, 1);
  EXPECT_FALSE(V->InvalidRegion().isEmpty());
  V->Update();
  V->SetScaleMode(smScale);  // the current mode: nothing happens
  EXPECT_TRUE(V->InvalidRegion().isEmpty());
}

TEST(KestImageGeometry, ScaleModeWriteStartsAtTheAlignedOffset) {
  auto V = FixedClientView(400, 300);
  V->SetImageAlignment(iaTopRight);
  SetCoordinatePicture(*V, 1000, 800);
  V->SetScaleMode(smNormal);
  EXPECT_EQ(V->Offset(), (TPoint{600, 0}));
  V->SetScaleMode(smResize);
  EXPECT_LE(V->MaxOffset().X, 0);
  EXPECT_EQ(V->GetImageRect(), (TRect{25, 0, 400, 300}));  // 375 wide, against the right edge
}

TEST(KestImageGeometry, FittedPictureNeverScrolls) {
  auto V = FixedClientView(300, 300);
  V->SetScaleMode(smResize);
  const int Sizes[][2] = {{1000, 999}, {999, 1000}, {3, 7}, {301, 300}, {300, 301}, {1, 1}, {7000, 3}};
  for (const auto& S : Sizes) {
    SetCoordinatePicture(*V, S[0], S[1]);
    EXPECT_LE(V->MaxOffset().X, 0) << S[0] << "x" << S[1];
    EXPECT_LE(V->MaxOffset().Y, 0) << S[0] << "x" << S[1];
  }
  // 1000 x 999 fits at 0.3: 300 x 299.7 truncates to 299, one pixel short.
  SetCoordinatePicture(*V, 1000, 999);
  EXPECT_EQ(V->MaxOffset(), (TPoint{0, -1}));
}

}  // namespace
