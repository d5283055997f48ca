// Drag panning, Ctrl-click zooming, keys and cursors.
#include <gtest/gtest.h>

#include <QBitmap>
#include <QCursor>

#include "support/ViewFixtures.h"

namespace {

const TShiftState Left{ssLeft};
const TShiftState CtrlLeft{ssCtrl, ssLeft};
const TShiftState CtrlShiftLeft{ssCtrl, ssShift, ssLeft};
const TShiftState None{};

std::unique_ptr<TKestImage> ScrollingView() {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  return V;
}

TEST(KestImageInput, DraggingPansPixelForPixelAndTurnsBackAtOnce) {
  auto V = ScrollingView();
  V->ScrollTo(TPoint{100, 100});
  V->InputMouseDown(mbLeft, Left, 200, 150);
  EXPECT_TRUE(V->Panning());
  V->InputMouseMove(Left, 190, 145);
  EXPECT_EQ(V->Offset(), (TPoint{110, 105}));
  // Pulled past the top-left corner: the offset stops at 0 ...
  V->InputMouseMove(Left, 390, 345);
  EXPECT_EQ(V->Offset(), (TPoint{0, 0}));
  // ... and moves again with the first step back.
  V->InputMouseMove(Left, 380, 340);
  EXPECT_EQ(V->Offset(), (TPoint{10, 5}));
  // Releasing any button, the right one too, ends the pan.
  V->InputMouseUp(mbRight, Left, 380, 340);
  EXPECT_FALSE(V->Panning());
  V->InputMouseMove(Left, 300, 300);
  EXPECT_EQ(V->Offset(), (TPoint{10, 5}));
}

TEST(KestImageInput, DraggingKeepsANonScrollingAxisAligned) {
  auto V = FixedClientView(400, 300);
  V->SetImageAlignment(iaCenter);
  SetCoordinatePicture(*V, 1000, 100);
  V->InputMouseDown(mbLeft, Left, 200, 150);
  V->InputMouseMove(Left, 150, 100);
  EXPECT_EQ(V->Offset(), (TPoint{350, -100}));
}

TEST(KestImageInput, OtherButtonsDoNotPanButRaiseTheirEvents) {
  auto V = ScrollingView();
  int Downs = 0;
  V->OnMouseDown = [&](TObject*, TMouseButton B, TShiftState, int X, int Y) {
    EXPECT_EQ(B, mbMiddle);
    EXPECT_EQ(X, 5);
    EXPECT_EQ(Y, 6);
    ++Downs;
  };
  V->InputMouseDown(mbMiddle, TShiftState{ssMiddle}, 5, 6);
  EXPECT_FALSE(V->Panning());
  EXPECT_EQ(Downs, 1);
}

TEST(KestImageInput, CtrlClickZoomsAboutThePressedPoint) {
  auto V = ScrollingView();
  V->ScrollTo(TPoint{100, 100});
  V->InputMouseDown(mbLeft, CtrlLeft, 50, 60);  // picture point (150, 160)
  EXPECT_EQ(V->Scale(), 1.5);
  EXPECT_EQ(V->GetViewCenter(), (TPoint{225, 240}));
  EXPECT_FALSE(V->Panning());
  V->InputMouseUp(mbLeft, CtrlLeft, 50, 60);
  V->InputMouseDown(mbLeft, CtrlShiftLeft, 200, 150);
  EXPECT_EQ(V->Scale(), 1.0);
  // A double click is one more press.
  V->InputMouseDown(mbLeft, CtrlLeft, 10, 10);
  V->InputMouseUp(mbLeft, CtrlLeft, 10, 10);
  V->InputMouseDown(mbLeft, CtrlLeft, 10, 10, true);
  EXPECT_EQ(V->Scale(), 2.0);
}

TEST(KestImageInput, CtrlClickOutsideScaleModeDoesNothing) {
  for (TScaleMode M : {smNormal, smStretch, smResize}) {
    auto V = ScrollingView();
    V->SetTabStop(true);
    V->SetScaleMode(M);
    V->InputMouseDown(mbLeft, CtrlLeft, 50, 60);
    EXPECT_EQ(V->Scale(), 1.0);
    EXPECT_EQ(V->Cursor(), crHand);
  }
}

TEST(KestImageInput, PressTakesTheFocusOnlyWithTabStop) {
  auto V = ScrollingView();
  V->InputMouseDown(mbLeft, Left, 1, 1);
  EXPECT_FALSE(V->Focused());
  V->InputMouseUp(mbLeft, Left, 1, 1);
  V->SetTabStop(true);
  V->InputMouseDown(mbLeft, Left, 1, 1);
  EXPECT_TRUE(V->Focused());
}

TEST(KestImageInput, CursorFollowsButtonsAndModifierKeys) {
  // TabStop on: the cursor follows the keys held at each event.
  auto V = ScrollingView();
  V->SetTabStop(true);
  EXPECT_EQ(V->Cursor(), crHand);  // set when the window was created
  std::uint16_t Ctrl = VK_CONTROL, Shift = VK_SHIFT, A = 'A';
  V->InputKeyDown(Ctrl, TShiftState{ssCtrl});
  EXPECT_EQ(V->Cursor(), crZoomIn);
  V->InputKeyDown(Shift, TShiftState{ssCtrl, ssShift});
  EXPECT_EQ(V->Cursor(), crZoomOut);
  V->InputKeyUp(Shift, TShiftState{ssCtrl});
  EXPECT_EQ(V->Cursor(), crZoomIn);
  V->InputKeyUp(Ctrl, None);
  EXPECT_EQ(V->Cursor(), crHand);
  V->InputMouseDown(mbLeft, Left, 10, 10);
  EXPECT_EQ(V->Cursor(), crHandGrab);
  V->InputKeyDown(Ctrl, TShiftState{ssCtrl, ssLeft});  // Ctrl during a pan: magnifier, pan goes on
  EXPECT_EQ(V->Cursor(), crZoomIn);
  EXPECT_TRUE(V->Panning());
  V->InputMouseUp(mbLeft, TShiftState{ssCtrl}, 10, 10);
  EXPECT_EQ(V->Cursor(), crZoomIn);
  V->InputKeyDown(A, None);
  EXPECT_EQ(V->Cursor(), crHand);

  // TabStop off: no keys arrive, so every release and Ctrl-click leaves the hand.
  auto W = ScrollingView();
  W->InputMouseDown(mbLeft, CtrlLeft, 10, 10);
  EXPECT_EQ(W->Cursor(), crHand);
  W->InputMouseDown(mbLeft, Left, 10, 10);
  EXPECT_EQ(W->Cursor(), crHandGrab);
  W->InputMouseUp(mbLeft, TShiftState{ssCtrl}, 10, 10);
  EXPECT_EQ(W->Cursor(), crHand);
}

TEST(KestImageInput, KeysScrollByPageOrLineAndKeypadKeysZoom) {
  auto V = ScrollingView();
  const struct {
    std::uint16_t Key;
    TShiftState Shift;
    TPoint Offset;
  } Cases[] = {
      {VK_RIGHT, None, {500, 200}},  {VK_LEFT, None, {0, 200}},          {VK_DOWN, None, {100, 500}},
      {VK_UP, None, {100, 0}},       {VK_RIGHT, {ssCtrl}, {105, 200}},   {VK_UP, {ssCtrl}, {100, 195}},
      {VK_LEFT, {ssShift}, {0, 200}}, {VK_DOWN, {ssAlt}, {100, 500}},
  };
  for (const auto& C : Cases) {
    V->ScrollTo(TPoint{100, 200});
    std::uint16_t K = C.Key;
    V->InputKeyDown(K, C.Shift);
    EXPECT_EQ(V->Offset(), C.Offset) << C.Key;
  }
  const struct {
    std::uint16_t Key;
    double Scale;
  } Zooms[] = {{VK_ADD, 1.5}, {VK_SUBTRACT, 0.75}, {VK_MULTIPLY, 0.375}, {VK_OEM_PLUS, 1.0}, {VK_OEM_MINUS, 1.0},
               {VK_DIVIDE, 1.0}};
  for (const auto& Z : Zooms) {
    V->SetScale(1.0);
    V->InputKeyDown(Z.Key, TShiftState{ssCtrl});
    EXPECT_EQ(V->Scale(), Z.Scale) << Z.Key;
  }
}

TEST(KestImageInput, ArrowKeysAreTheViews) {
  TKestImage V(nullptr);
  EXPECT_EQ(V.Perform(WM_GETDLGCODE, 0, 0), DLGC_WANTARROWS);
}

TEST(KestImageInput, WheelOnlyRaisesTheWheelEvents) {
  auto V = ScrollingView();
  V->ScrollTo(TPoint{100, 100});
  EXPECT_FALSE(V->InputMouseWheel(None, -120, TPoint{}));
  EXPECT_EQ(V->Offset(), (TPoint{100, 100}));
  EXPECT_EQ(V->Scale(), 1.0);
  int Downs = 0, Ups = 0;
  V->OnMouseWheelDown = [&](TObject*, TShiftState, TPoint, bool& Handled) {
    ++Downs;
    Handled = true;
  };
  V->OnMouseWheelUp = [&](TObject*, TShiftState, TPoint, bool&) { ++Ups; };
  EXPECT_TRUE(V->InputMouseWheel(None, -240, TPoint{}));
  EXPECT_EQ(Downs, 2);
  V->InputMouseWheel(None, 60, TPoint{});
  EXPECT_EQ(Ups, 0);
  V->InputMouseWheel(None, 60, TPoint{});  // the remainder adds up to a notch
  EXPECT_EQ(Ups, 1);
}

TEST(KestImageCursors, FourCursorsWithTheirHotSpotsAreRegisteredOnce) {
  InitializeKestImageUnit();
  const struct {
    TCursor Id;
    QPoint HotSpot;
  } Cases[] = {{crZoomIn, {6, 6}}, {crZoomOut, {6, 6}}, {crHand, {7, 7}}, {crHandGrab, {8, 9}}};
  for (const auto& C : Cases) {
    ASSERT_TRUE(Screen().HasCursor(C.Id)) << C.Id;
    const QCursor Q = Screen().CursorFor(C.Id);
    EXPECT_EQ(Q.hotSpot(), C.HotSpot) << C.Id;
    EXPECT_EQ(Q.bitmap().size(), QSize(32, 32));
    // The figure lies in the top-left 16 x 16 pixels: the mask is empty elsewhere.
    const QImage Mask = Q.mask().toImage().convertToFormat(QImage::Format_Mono);
    for (int Y = 0; Y < 32; ++Y)
      for (int X = 16; X < 32; ++X) ASSERT_EQ(Mask.pixelIndex(X, Y), 0) << C.Id;
  }
  // A later start-up only counts: it does not register again.
  Screen().SetCursor(crHand, QCursor(Qt::CrossCursor));
  InitializeKestImageUnit();
  EXPECT_EQ(Screen().CursorFor(crHand).shape(), Qt::CrossCursor);
  FinalizeKestImageUnit();
}

}  // namespace
