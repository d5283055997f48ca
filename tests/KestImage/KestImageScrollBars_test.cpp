// The window's scroll bars: what is pushed to them and in which order, and the
// reactions to the scroll codes.
#include <gtest/gtest.h>

#include <QScrollBar>

#include "support/ViewFixtures.h"

namespace {

// Records the scroll-bar calls made while it lives.
struct BarRecorder {
  std::vector<std::string> Calls;
  BarRecorder() {
    SetWindowCallRecorder([this](const std::string& L) {
      if (L.rfind("ScrollWindowEx", 0) != 0) Calls.push_back(L);
    });
  }
  ~BarRecorder() { SetWindowCallRecorder(nullptr); }
};

TEST(KestImageScrollBars, UpdatePushesNonScrollingBarsFirstThenScrollingOnes) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 100);  // only the horizontal axis scrolls
  V->ScrollTo(TPoint{40, 0});
  BarRecorder R;
  V->UpdateScrollBars();
  EXPECT_EQ(R.Calls, (std::vector<std::string>{
                         "EnableScrollBar(SB_VERT, 3)",
                         "ShowScrollBar(SB_VERT, 1)",
                         "SetScrollInfo(SB_HORZ, mask 0x17, min 0, max 999, page 400, pos 40)",
                         "EnableScrollBar(SB_HORZ, 0)",
                         "ShowScrollBar(SB_HORZ, 1)",
                     }));
  R.Calls.clear();
  SetCoordinatePicture(*V, 1000, 800);
  V->ScrollTo(TPoint{5, 6});
  R.Calls.clear();
  V->UpdateScrollBars();
  EXPECT_EQ(R.Calls, (std::vector<std::string>{
                         "SetScrollInfo(SB_VERT, mask 0x17, min 0, max 799, page 300, pos 6)",
                         "EnableScrollBar(SB_VERT, 0)",
                         "ShowScrollBar(SB_VERT, 1)",
                         "SetScrollInfo(SB_HORZ, mask 0x17, min 0, max 999, page 400, pos 5)",
                         "EnableScrollBar(SB_HORZ, 0)",
                         "ShowScrollBar(SB_HORZ, 1)",
                     }));
  EXPECT_EQ(V->PageSize(), (TPoint{400, 300}));
  R.Calls.clear();
  V->ScrollTo(TPoint{7, 8});
  EXPECT_EQ(R.Calls, (std::vector<std::string>{"SetScrollInfo(SB_VERT, mask 0x4, pos 8)",
                                               "SetScrollInfo(SB_HORZ, mask 0x4, pos 7)"}));
}

TEST(KestImageScrollBars, HiddenBarsLeaveTheirRoomToTheClientArea) {
  TKestImage V(nullptr);
  V.SetBorderStyle(bsNone);
  V.SetBounds(0, 0, 300, 200);
  SetCoordinatePicture(V, 100, 100);
  EXPECT_FALSE(V.ScrollBar(SB_HORZ).Visible);
  EXPECT_FALSE(V.ScrollBar(SB_VERT).Visible);
  EXPECT_EQ(V.ClientWidth(), 300);
  SetCoordinatePicture(V, 100, 500);
  EXPECT_FALSE(V.ScrollBar(SB_HORZ).Visible);
  EXPECT_TRUE(V.ScrollBar(SB_VERT).Visible);
  EXPECT_EQ(V.ClientWidth(), 283);
  SetCoordinatePicture(V, 300, 200);  // fits exactly: no bar
  EXPECT_EQ(V.MaxOffset(), (TPoint{0, 0}));
  EXPECT_FALSE(V.ScrollBar(SB_VERT).Visible);
  EXPECT_EQ(V.ClientWidth(), 300);

  // Bars that stay: the picture that just fitted now scrolls by their width.
  V.SetHideScrollBars(false);
  EXPECT_EQ(V.MaxOffset(), (TPoint{17, 17}));
  EXPECT_EQ(V.ScrollBar(SB_HORZ).DisabledArrows, ESB_ENABLE_BOTH);
  // A picture that fits: both bars shown but disabled, the client keeps its size.
  SetCoordinatePicture(V, 10, 10);
  EXPECT_TRUE(V.ScrollBar(SB_HORZ).Visible);
  EXPECT_EQ(V.ScrollBar(SB_HORZ).DisabledArrows, ESB_DISABLE_BOTH);
  EXPECT_EQ(V.ScrollBar(SB_VERT).DisabledArrows, ESB_DISABLE_BOTH);
  EXPECT_EQ(V.ClientWidth(), 283);
  EXPECT_EQ(V.ClientHeight(), 183);
}

TEST(KestImageScrollBars, ShowingOneBarCanMakeTheOtherNecessary) {
  // 250 x 190 in 200 x 200: the horizontal bar takes 17 pixels of height, the
  // picture then no longer fits vertically, and the vertical bar appears from
  // inside the first bar's size message.
  TKestImage V(nullptr);
  V.SetBorderStyle(bsNone);
  V.SetBounds(0, 0, 200, 200);
  SetCoordinatePicture(V, 250, 190);
  EXPECT_TRUE(V.ScrollBar(SB_HORZ).Visible);
  EXPECT_TRUE(V.ScrollBar(SB_VERT).Visible);
  EXPECT_EQ(V.MaxOffset(), (TPoint{67, 7}));
  EXPECT_EQ(V.ScrollBar(SB_HORZ).Max, 249);
  EXPECT_EQ(V.ScrollBar(SB_HORZ).Page, 183u);
  EXPECT_EQ(V.ScrollBar(SB_VERT).Max, 189);
  EXPECT_EQ(V.ScrollBar(SB_VERT).Page, 183u);
  EXPECT_EQ(V.PageSize(), (TPoint{183, 183}));
}

TEST(KestImageScrollBars, ScrollCodes) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  const struct {
    int Start;
    int Code;
    int End;
  } Cases[] = {
      {3, SB_LINEUP, 0},       {100, SB_LINEDOWN, 105}, {450, SB_PAGEUP, 50},   {0, SB_PAGEUP, 0},
      {250, SB_PAGEDOWN, 600}, {10, SB_PAGEDOWN, 410},  {123, SB_TOP, 0},       {123, SB_BOTTOM, 600},
      {123, SB_ENDSCROLL, 123}, {123, 9, 123},          {123, 0x100 | SB_TOP, 0},
  };
  for (const auto& C : Cases) {
    V->ScrollTo(TPoint{C.Start, 77});
    V->Perform(WM_HSCROLL, static_cast<WPARAM>(C.Code), 0);
    EXPECT_EQ(V->Offset(), (TPoint{C.End, 77})) << C.Start << " code " << C.Code;
  }
  V->ScrollTo(TPoint{0, 0});
  V->Perform(WM_VSCROLL, SB_PAGEDOWN, 0);
  EXPECT_EQ(V->Offset(), (TPoint{0, 300}));
}

TEST(KestImageScrollBars, ThumbUsesTheBarsTrackPositionBeyondSixteenBits) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  V->SetScale(100);  // 100,000 pixels wide
  ASSERT_EQ(V->ScrollBar(SB_HORZ).Max, 99999);
  SCROLLINFO I;
  I.fMask = SIF_POS;
  I.nPos = 70000;
  SetScrollInfo(V->Handle(), SB_HORZ, I, true);
  // The 16-bit position carried in the message is ignored.
  V->Perform(WM_HSCROLL, SB_THUMBPOSITION | (1234u << 16), 0);
  EXPECT_EQ(V->Offset().X, 70000);
}

TEST(KestImageScrollBars, MaximumUsesTheTruncatedExtent) {
  auto V = FixedClientView(100, 100);
  SetCoordinatePicture(*V, 101, 101);
  V->SetScale(1.5);
  EXPECT_EQ(V->ScrollBar(SB_HORZ).Max, 150);
}

TEST(KestImageScrollBars, TogglingHideScrollBarsReturnsToTheAlignedOffset) {
  auto V = FixedClientView(400, 300);
  V->SetImageAlignment(iaCenter);
  SetCoordinatePicture(*V, 1000, 800);
  V->ScrollTo(TPoint{0, 0});
  V->SetHideScrollBars(true);
  EXPECT_EQ(V->Offset(), (TPoint{V->MaxOffset().X / 2, V->MaxOffset().Y / 2}));
}

TEST(KestImageScrollBars, BorderStyleRecreatesTheWindowAndTheBars) {
  TKestImage V(nullptr);
  V.SetBounds(0, 0, 200, 200);
  SetCoordinatePicture(V, 1000, 100);
  EXPECT_EQ(V.WindowExStyle() & WS_EX_CLIENTEDGE, WS_EX_CLIENTEDGE);
  EXPECT_EQ(V.ClientWidth(), 196);
  V.ScrollTo(TPoint{30, 0});
  V.SetBorderStyle(bsNone);
  EXPECT_EQ(V.WindowExStyle() & WS_EX_CLIENTEDGE, 0u);
  EXPECT_EQ(V.ClientWidth(), 200);
  EXPECT_TRUE(V.ScrollBar(SB_HORZ).Visible);
  EXPECT_FALSE(V.ScrollBar(SB_VERT).Visible);
  EXPECT_EQ(V.ScrollBar(SB_HORZ).Pos, V.Offset().X);
  EXPECT_EQ(V.ScrollBar(SB_HORZ).Page, 200u);
}

TEST(KestImageScrollBars, ReadingDirectionChangeReAlignsWithoutRecreating) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  QWidget* Before = V->Widget();
  int Events = 0;
  V->OnOffsetChange = [&](TObject*) { ++Events; };
  BarRecorder R;
  V->SetBiDiMode(bdRightToLeft);
  EXPECT_EQ(V->Widget(), Before);
  EXPECT_EQ(V->Offset(), (TPoint{600, 0}));  // top-left now means the right end
  EXPECT_EQ(Events, 1);
  EXPECT_FALSE(R.Calls.empty());
  EXPECT_EQ(R.Calls.back(), "ShowScrollBar(SB_HORZ, 1)");
}

}  // namespace

namespace {

QScrollBar* PresentedBar(TWinControl& C, Qt::Orientation O) {
  for (QScrollBar* B : C.Widget()->findChildren<QScrollBar*>())
    if (B->orientation() == O) return B;
  return nullptr;
}

TEST(KestImageScrollBars, UserActionsOnThePresentedBarsBecomeScrollCodes) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  V->SetScale(100);  // 100,000 x 80,000 pixels
  QScrollBar* H = PresentedBar(*V, Qt::Horizontal);
  QScrollBar* Vert = PresentedBar(*V, Qt::Vertical);
  ASSERT_TRUE(H && Vert);
  V->ScrollTo(TPoint{1000, 1000});
  H->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(V->Offset().X, 1005);
  H->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(V->Offset().X, 605);
  Vert->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(V->Offset().Y, V->MaxOffset().Y);
  EXPECT_EQ(Vert->value(), V->MaxOffset().Y);

  // Dragging the thumb far beyond 16 bits: the view follows the track position.
  H->setSliderDown(true);
  H->setSliderPosition(77777);
  EXPECT_EQ(V->Offset().X, 77777);
  EXPECT_TRUE(V->ScrollBar(SB_HORZ).Tracking);
  H->setSliderDown(false);
  EXPECT_FALSE(V->ScrollBar(SB_HORZ).Tracking);
  EXPECT_EQ(V->Offset().X, 77777);
  EXPECT_EQ(H->value(), 77777);
}

TEST(KestImageScrollBars, RightToLeftPutsTheVerticalBarOnTheLeft) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  QScrollBar* Vert = PresentedBar(*V, Qt::Vertical);
  EXPECT_EQ(Vert->x(), 400);
  V->SetBiDiMode(bdRightToLeft);
  EXPECT_EQ(Vert->x(), 0);
}

}  // namespace
