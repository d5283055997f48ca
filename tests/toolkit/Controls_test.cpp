#include "toolkit/Controls.h"

#include <gtest/gtest.h>

#include <limits>
#include <new>

#include <QCoreApplication>

#include "support/ViewFixtures.h"

namespace {

// A windowed control that records what the window model does to it.
class TProbe : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  std::uint32_t ExtraStyle = 0;
  std::uint32_t ExtraExStyle = 0;
  TColor PaintColor = clRed;
  std::vector<TRect> PaintClips;
  std::vector<std::pair<int, int>> Sizes;
  std::function<void()> OnSize;

 protected:
  void CreateParams(TCreateParams& P) override {
    TCustomControl::CreateParams(P);
    P.Style |= ExtraStyle;
    P.ExStyle |= ExtraExStyle;
  }
  void Paint() override {
    PaintClips.push_back(Canvas().ClipRect());
    Canvas().Brush().Color = PaintColor;
    Canvas().FillRect(ClientRect());
  }
  void WndProc(TMessage& M) override {
    if (M.Msg == WM_SIZE) {
      Sizes.emplace_back(LoWord(static_cast<std::uintptr_t>(M.LParam)), HiWord(static_cast<std::uintptr_t>(M.LParam)));
      if (OnSize) OnSize();
    }
    TCustomControl::WndProc(M);
  }
};

SCROLLINFO Info(unsigned Mask, int Min, int Max, unsigned Page, int Pos) {
  SCROLLINFO I;
  I.fMask = Mask;
  I.nMin = Min;
  I.nMax = Max;
  I.nPage = Page;
  I.nPos = Pos;
  return I;
}

std::unique_ptr<TProbe> ProbeWithBarsAndEdge() {
  auto P = std::make_unique<TProbe>(nullptr);
  P->ExtraStyle = WS_HSCROLL | WS_VSCROLL;
  P->ExtraExStyle = WS_EX_CLIENTEDGE;
  P->SetBounds(0, 0, 192, 192);
  return P;
}

TEST(WindowModel, ClientAreaLosesTheEdgeAndTheVisibleBars) {
  auto P = ProbeWithBarsAndEdge();
  EXPECT_EQ(P->ClientWidth(), 171);  // bars are present from the creation style
  EXPECT_EQ(P->ClientHeight(), 171);
  ShowScrollBar(P->Handle(), SB_BOTH, false);
  EXPECT_EQ(P->ClientWidth(), 188);
  EXPECT_EQ(P->ClientHeight(), 188);
  ShowScrollBar(P->Handle(), SB_VERT, true);
  EXPECT_EQ(P->ClientWidth(), 171);
  EXPECT_EQ(P->ClientHeight(), 188);
  EXPECT_EQ(P->ClientSurface().size(), QSize(171, 188));
}

TEST(WindowModel, ShowingABarSendsTheNewSizeAtOnceAlsoFromInsideASizeMessage) {
  auto P = ProbeWithBarsAndEdge();
  P->HandleNeeded();
  P->Sizes.clear();
  // Hiding the vertical bar from inside the size message that hiding the
  // horizontal one causes: the inner message arrives before the outer call returns.
  bool Nested = false;
  P->OnSize = [&] {
    if (Nested) return;
    Nested = true;
    ShowScrollBar(P->Handle(), SB_VERT, false);
  };
  ShowScrollBar(P->Handle(), SB_HORZ, false);
  EXPECT_EQ(P->Sizes, (std::vector<std::pair<int, int>>{{171, 188}, {188, 188}}));
  EXPECT_EQ(P->ClientWidth(), 188);
}

TEST(WindowModel, PaintCycleErasesUnlessOpaqueAndClipsToTheInvalidArea) {
  auto P = std::make_unique<TProbe>(nullptr);
  P->SetBounds(0, 0, 100, 80);
  P->SetColor(clBlue);
  P->HandleNeeded();
  P->Update();  // the first paint of a new window
  P->PaintClips.clear();

  // Painting fills only the invalid area: the rest keeps its pixels.
  P->PaintColor = clLime;
  const TRect R{10, 20, 30, 25};
  InvalidateRect(P->Handle(), &R, false);
  EXPECT_FALSE(P->EraseRequested());
  P->Update();
  ASSERT_EQ(P->PaintClips.size(), 1u);
  EXPECT_EQ(P->PaintClips[0], R);
  EXPECT_EQ(SurfacePixel(*P, 10, 20), ColorToPixel(clLime));
  EXPECT_EQ(SurfacePixel(*P, 9, 20), ColorToPixel(clRed));
  EXPECT_TRUE(P->InvalidRegion().isEmpty());

  // Invalidate asks for an erase unless the control is opaque.
  P->Invalidate();
  EXPECT_TRUE(P->EraseRequested());
  P->SetControlStyle(P->ControlStyle().Include(csOpaque));
  P->Update();
  P->Invalidate();
  EXPECT_FALSE(P->EraseRequested());
}

TEST(WindowModel, EventLoopRunsThePaintCycle) {
  auto P = std::make_unique<TProbe>(nullptr);
  P->SetBounds(0, 0, 50, 50);
  P->HandleNeeded();
  P->Update();
  P->PaintClips.clear();
  P->Invalidate();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(P->PaintClips.size(), 1u);
}

TEST(WindowModel, ScrollWindowMovesPixelsAndInvalidatesOnlyTheUncoveredStrip) {
  auto P = std::make_unique<TProbe>(nullptr);
  P->SetBounds(0, 0, 64, 48);
  P->HandleNeeded();
  P->Update();
  QImage& S = const_cast<QImage&>(P->ClientSurface());
  for (int Y = 0; Y < 48; ++Y)
    for (int X = 0; X < 64; ++X) S.setPixel(X, Y, 0xFF000000u | static_cast<unsigned>(X << 8 | Y));

  ScrollWindowEx(P->Handle(), -10, 3, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
  EXPECT_EQ(SurfacePixel(*P, 0, 3), 0xFF000000u | (10u << 8 | 0u));
  EXPECT_EQ(SurfacePixel(*P, 53, 47), 0xFF000000u | (63u << 8 | 44u));
  const QRegion Expected = QRegion(0, 0, 64, 48) - QRegion(0, 3, 54, 45);
  EXPECT_EQ(P->InvalidRegion(), Expected);
  EXPECT_FALSE(P->EraseRequested());
  // The uncovered strip keeps its old pixels until painted.
  EXPECT_EQ(SurfacePixel(*P, 60, 10), 0xFF000000u | (60u << 8 | 10u));
}

TEST(WindowModel, SizesBeforeTheFirstPaintShowTheColourAndLaterOnesKeepThePixels) {
  auto P = std::make_unique<TProbe>(nullptr);
  P->SetBounds(0, 0, 64, 48);
  P->HandleNeeded();
  P->SetBounds(0, 0, 80, 60);
  ShowScrollBar(P->Handle(), SB_VERT, true);
  ShowScrollBar(P->Handle(), SB_VERT, false);
  P->SetBounds(0, 0, 70, 50);
  const std::uint32_t Colour = ColorToPixel(P->Color());
  for (const auto& [X, Y] : {std::pair{0, 0}, {69, 49}, {35, 20}}) EXPECT_EQ(SurfacePixel(*P, X, Y), Colour);
  P->Update();
  EXPECT_EQ(SurfacePixel(*P, 69, 49), ColorToPixel(clRed));
  // Once painted, a larger size keeps the pixels until the next paint; the
  // new part shows the colour.
  P->SetBounds(0, 0, 90, 60);
  EXPECT_EQ(SurfacePixel(*P, 69, 49), ColorToPixel(clRed));
  EXPECT_EQ(SurfacePixel(*P, 80, 55), Colour);
  P->Update();
  EXPECT_EQ(SurfacePixel(*P, 89, 59), ColorToPixel(clRed));
  EXPECT_EQ(P->PaintClips.size(), 2u);
}

TEST(WindowModel, TheFirstPaintOfANewWindowShowsTheColourWhereItDrawsNothing) {
  // The erase of a new window's surface waits for the first use of its
  // pixels; a paint that asks only for the clip and draws a corner leaves
  // the colour (the current one) everywhere else.
  struct TCorner : TCustomControl {
    using TCustomControl::TCustomControl;
    TRect SeenClip;
    void Paint() override {
      SeenClip = Canvas().ClipRect();
      Canvas().Brush().Color = clRed;
      Canvas().FillRect(TRect{0, 0, 10, 10});
    }
  } P(nullptr);
  P.SetBounds(0, 0, 50, 40);
  P.HandleNeeded();
  P.SetColor(clNavy);
  P.Update();
  EXPECT_EQ(P.SeenClip, (TRect{0, 0, 50, 40}));
  EXPECT_EQ(SurfacePixel(P, 5, 5), ColorToPixel(clRed));
  EXPECT_EQ(SurfacePixel(P, 49, 39), ColorToPixel(clNavy));
  EXPECT_EQ(SurfacePixel(P, 20, 5), ColorToPixel(clNavy));
}

TEST(WindowModel, ScrollBarStateKeepsThePositionWhereTheThumbCanBe) {
  auto P = ProbeWithBarsAndEdge();
  EXPECT_EQ(SetScrollInfo(P->Handle(), SB_HORZ, Info(SIF_ALL, 0, 99999, 1000, 99500), true), 99000);
  SCROLLINFO Out;
  Out.fMask = SIF_ALL;
  ASSERT_TRUE(GetScrollInfo(P->Handle(), SB_HORZ, Out));
  EXPECT_EQ(Out.nMax, 99999);
  EXPECT_EQ(Out.nPage, 1000u);
  EXPECT_EQ(Out.nTrackPos, 99000);  // not tracking: the position
  EnableScrollBar(P->Handle(), SB_HORZ, ESB_DISABLE_BOTH);
  EXPECT_EQ(P->ScrollBar(SB_HORZ).DisabledArrows, ESB_DISABLE_BOTH);
}

TEST(WindowModel, RecreatingTheWindowResetsTheBarsFromTheStyle) {
  auto P = ProbeWithBarsAndEdge();
  ShowScrollBar(P->Handle(), SB_BOTH, false);
  P->ExtraStyle = 0;
  P->RecreateWnd();
  EXPECT_FALSE(P->ScrollBar(SB_HORZ).Visible);
  EXPECT_EQ(P->ClientWidth(), 188);
  P->ExtraExStyle = 0;
  P->RecreateWnd();
  EXPECT_EQ(P->ClientWidth(), 192);
}

TEST(WindowModel, PostedMessagesArriveFromTheEventLoop) {
  class TCounter : public TCustomControl {
   public:
    using TCustomControl::TCustomControl;
    int Count = 0;

   protected:
    void WndProc(TMessage& M) override {
      if (M.Msg == WM_USER + 7) ++Count;
      TCustomControl::WndProc(M);
    }
  } C(nullptr);
  PostMessage(C.Handle(), WM_USER + 7, 0, 0);
  EXPECT_EQ(C.Count, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(C.Count, 1);
}

// A painted probe whose client surface holds a coordinate pattern.
std::unique_ptr<TProbe> PatternedProbe(int W, int H) {
  auto P = std::make_unique<TProbe>(nullptr);
  P->SetBounds(0, 0, W, H);
  P->HandleNeeded();
  P->Update();
  QImage& S = const_cast<QImage&>(P->ClientSurface());
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) S.setPixel(X, Y, 0xFF000000u | static_cast<unsigned>(X << 8 | Y));
  P->PaintClips.clear();
  return P;
}

std::uint32_t Pattern(int X, int Y) { return 0xFF000000u | static_cast<unsigned>(X << 8 | Y); }

TEST(WindowModel, ScrollMovesAnAreaStillWaitingToBePaintedWithThePixels) {
  auto P = PatternedProbe(64, 48);
  const TRect Pending{10, 10, 20, 20};
  InvalidateRect(P->Handle(), &Pending, false);
  // A second pending area that the scroll carries partly out of the window.
  const TRect Edge{0, 40, 6, 48};
  InvalidateRect(P->Handle(), &Edge, false);
  ScrollWindowEx(P->Handle(), 5, -4, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
  const QRegion Uncovered = QRegion(0, 0, 64, 48) - QRegion(5, 0, 59, 44);
  const QRegion Expected = QRegion(15, 6, 10, 10) + QRegion(5, 36, 6, 8) + Uncovered;
  EXPECT_EQ(P->InvalidRegion(), Expected);

  // The paint that follows covers the moved area, not the place it came from.
  P->PaintColor = clLime;
  P->Update();
  ASSERT_EQ(P->PaintClips.size(), 1u);
  EXPECT_EQ(SurfacePixel(*P, 15, 6), ColorToPixel(clLime));
  EXPECT_EQ(SurfacePixel(*P, 24, 15), ColorToPixel(clLime));
  EXPECT_EQ(SurfacePixel(*P, 12, 12), Pattern(7, 16));  // moved pixels where the area was
  EXPECT_EQ(SurfacePixel(*P, 25, 16), Pattern(20, 20));
}

TEST(WindowModel, ScrollInEveryDirectionAndBeyondTheWindow) {
  const struct {
    int DX, DY;
    TRect Kept;  // where moved pixels stand afterwards
  } Cases[] = {{7, 0, {7, 0, 40, 30}}, {0, 9, {0, 9, 40, 30}}, {-3, -5, {0, 0, 37, 25}}, {4, -2, {4, 0, 40, 28}}};
  for (const auto& C : Cases) {
    auto P = PatternedProbe(40, 30);
    QRegion Strip;
    TRect Box;
    EXPECT_EQ(ScrollWindowEx(P->Handle(), C.DX, C.DY, nullptr, nullptr, &Strip, &Box, SW_INVALIDATE), 2);
    const QRegion Kept(C.Kept.Left, C.Kept.Top, C.Kept.Width(), C.Kept.Height());
    EXPECT_EQ(Strip, QRegion(0, 0, 40, 30) - Kept) << C.DX << "," << C.DY;
    const QRect B = Strip.boundingRect();
    EXPECT_EQ(Box, (TRect{B.left(), B.top(), B.right() + 1, B.bottom() + 1}));
    EXPECT_EQ(P->InvalidRegion(), Strip);
    for (int Y = C.Kept.Top; Y < C.Kept.Bottom; ++Y)
      for (int X = C.Kept.Left; X < C.Kept.Right; ++X)
        ASSERT_EQ(SurfacePixel(*P, X, Y), Pattern(X - C.DX, Y - C.DY)) << C.DX << "," << C.DY << " at " << X << "," << Y;
  }

  // Further than the window is wide: nothing stays, everything is uncovered.
  auto P = PatternedProbe(40, 30);
  QRegion Strip;
  ScrollWindowEx(P->Handle(), 0, -30, nullptr, nullptr, &Strip, nullptr, SW_INVALIDATE | SW_ERASE);
  EXPECT_EQ(Strip, QRegion(0, 0, 40, 30));
  EXPECT_TRUE(P->EraseRequested());
  EXPECT_EQ(SurfacePixel(*P, 3, 3), Pattern(3, 3));

  // Without SW_INVALIDATE the strip is only reported; no scroll reports 1.
  auto Q = PatternedProbe(40, 30);
  ScrollWindowEx(Q->Handle(), 2, 0, nullptr, nullptr, &Strip, nullptr, 0);
  EXPECT_EQ(Strip, QRegion(0, 0, 2, 30));
  EXPECT_TRUE(Q->InvalidRegion().isEmpty());
  EXPECT_EQ(ScrollWindowEx(Q->Handle(), 0, 0, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE), 1);
}

TEST(WindowModel, InvalidationOutsideTheClientAddsNothingAndPaintingMayInvalidateAnew) {
  auto P = PatternedProbe(30, 20);
  const TRect Outside{30, 0, 50, 10};
  InvalidateRect(P->Handle(), &Outside, true);
  EXPECT_TRUE(P->InvalidRegion().isEmpty());
  EXPECT_FALSE(P->EraseRequested());
  const TRect Straddling{25, 15, 40, 40};
  InvalidateRect(P->Handle(), &Straddling, false);
  EXPECT_EQ(P->InvalidRegion(), QRegion(25, 15, 5, 5));

  // An invalidation from inside the paint stays for the next cycle.
  const TRect AgainRect{1, 1, 3, 3};
  class TReinvalidating : public TProbe {
   public:
    using TProbe::TProbe;
    TRect Again;

   protected:
    void Paint() override {
      TProbe::Paint();
      if (PaintClips.size() == 1) InvalidateRect(this, &Again, false);
    }
  } R(nullptr);
  R.Again = AgainRect;
  R.SetBounds(0, 0, 30, 20);
  R.HandleNeeded();
  R.Update();
  EXPECT_EQ(R.InvalidRegion(), QRegion(1, 1, 2, 2));
  R.Update();
  EXPECT_EQ(R.PaintClips.back(), AgainRect);
}

TEST(WindowModel, ScrollInfoKeepsThePositionWhereTheThumbCanBeForEveryRange) {
  constexpr int Big = std::numeric_limits<int>::max();
  const struct {
    int Min, Max;
    unsigned Page;
    int Pos;
    unsigned ExpectedPage;
    int ExpectedPos;
  } Cases[] = {
      {0, 100, 10, 95, 10, 91},            // last page: max - page + 1
      {0, 100, 0, 150, 0, 100},            // no page: up to max
      {0, 100, 500, 50, 101, 0},           // a page larger than the range is the range
      {10, 20, 5, 0, 5, 10},               // below the minimum
      {-50, 50, 10, -60, 10, -50},
      {0, Big, 1000, Big, 1000, Big - 999},  // no overflow at the top of the range
      {5, 3, 0, 4, 0, 5},                  // an inverted range keeps the minimum
  };
  for (const auto& C : Cases) {
    auto P = ProbeWithBarsAndEdge();
    const SCROLLINFO I = Info(SIF_RANGE | SIF_PAGE | SIF_POS, C.Min, C.Max, C.Page, C.Pos);
    EXPECT_EQ(SetScrollInfo(P->Handle(), SB_VERT, I, true), C.ExpectedPos) << C.Min << ".." << C.Max;
    EXPECT_EQ(P->ScrollBar(SB_VERT).Page, C.ExpectedPage) << C.Min << ".." << C.Max;
    EXPECT_EQ(P->ScrollBar(SB_HORZ).Pos, 0);
  }
  // Setting only the position keeps the range and page and clamps again.
  auto P = ProbeWithBarsAndEdge();
  SetScrollInfo(P->Handle(), SB_HORZ, Info(SIF_ALL, 0, 50, 11, 0), true);
  EXPECT_EQ(SetScrollInfo(P->Handle(), SB_HORZ, Info(SIF_POS, 0, 0, 0, 45), true), 40);
  SCROLLINFO Out;
  Out.fMask = SIF_RANGE | SIF_PAGE;
  GetScrollInfo(P->Handle(), SB_HORZ, Out);
  EXPECT_EQ(Out.nMax, 50);
  EXPECT_EQ(Out.nPage, 11u);
}

TEST(WindowModel, AlignedChildrenShareTheClientAreaInOrder) {
  TWinControl Parent(nullptr);
  Parent.SetBounds(0, 0, 200, 100);
  const struct {
    TAlign Align;
    int W, H;
    TRect Expected;
  } Cases[] = {
      {alTop, 0, 20, {0, 0, 200, 20}},
      {alBottom, 0, 10, {0, 90, 200, 100}},
      {alLeft, 30, 0, {0, 20, 30, 90}},
      {alRight, 40, 0, {160, 20, 200, 90}},
      {alClient, 0, 0, {30, 20, 160, 90}},
  };
  std::vector<std::unique_ptr<TWinControl>> Children;
  // Added in reverse: the order of alignment, not of insertion, decides.
  for (int I = 4; I >= 0; --I) {
    auto C = std::make_unique<TWinControl>(nullptr);
    C->SetParent(&Parent);
    C->SetBounds(5, 5, Cases[I].W, Cases[I].H);
    C->SetAlign(Cases[I].Align);
    Children.push_back(std::move(C));
  }
  auto Hidden = std::make_unique<TWinControl>(nullptr);
  Hidden->SetParent(&Parent);
  Hidden->SetVisible(false);
  Hidden->SetBounds(0, 0, 50, 50);
  Hidden->SetAlign(alTop);
  Parent.HandleNeeded();
  Parent.SetBounds(0, 0, 200, 100);
  for (int I = 0; I < 5; ++I) EXPECT_EQ(Children[static_cast<std::size_t>(4 - I)]->BoundsRect(), Cases[I].Expected) << I;
  EXPECT_EQ(Hidden->BoundsRect(), (TRect{0, 0, 50, 50}));
  Children.clear();
}

TEST(Controls, SizeConstraintsAndNegativeSizes) {
  TControl C(nullptr);
  C.SetConstraints(TSizeConstraints{10, 20, 100, 200});
  C.SetBounds(1, 2, 5, 500);
  EXPECT_EQ(C.BoundsRect(), (TRect{1, 2, 11, 202}));
  C.SetBounds(1, 2, 300, 7);
  EXPECT_EQ(C.BoundsRect(), (TRect{1, 2, 101, 22}));
  TControl D(nullptr);
  D.SetBounds(4, 4, -10, -1);
  EXPECT_EQ(D.Width(), 0);
  EXPECT_EQ(D.Height(), 0);
}

TEST(Controls, GeometryFromAnywhereStaysWithinAWindowsReach) {
  constexpr int Max = std::numeric_limits<int>::max(), Min = std::numeric_limits<int>::min();
  TWinControl Parent(nullptr);
  Parent.SetBounds(0, 0, 100, 100);
  TWinControl Child(nullptr);
  Child.SetParent(&Parent);
  Child.SetAnchors(TAnchors{akLeft, akTop, akRight, akBottom});
  Child.SetBounds(Max, Min, Max, Max);
  EXPECT_EQ(Child.BoundsRect(), (TRect{MaxControlExtent, -MaxControlExtent, 2 * MaxControlExtent, 0}));
  // The parent's layout works with the kept distances without overflowing.
  Parent.HandleNeeded();
  Parent.SetBounds(0, 0, Max, Max);
  EXPECT_EQ(Parent.Width(), MaxControlExtent);
  EXPECT_LE(Child.Width(), MaxControlExtent);
  EXPECT_GE(Child.Width(), 0);
}

TEST(Controls, WheelNotchesOf120UnitsAndRemaindersThatWait) {
  TControl C(nullptr);
  std::vector<std::string> Seen;
  C.OnMouseWheelUp = [&](TObject*, TShiftState, TPoint, bool& Handled) {
    Seen.push_back("up");
    Handled = true;
  };
  C.OnMouseWheelDown = [&](TObject*, TShiftState, TPoint, bool&) { Seen.push_back("down"); };
  EXPECT_FALSE(C.InputMouseWheel({}, 60, {}));
  EXPECT_TRUE(Seen.empty());
  EXPECT_TRUE(C.InputMouseWheel({}, 60, {}));
  EXPECT_EQ(Seen, (std::vector<std::string>{"up"}));
  Seen.clear();
  EXPECT_FALSE(C.InputMouseWheel({}, -250, {}));  // two notches down, unhandled; -10 waits
  EXPECT_EQ(Seen, (std::vector<std::string>{"down", "down"}));
  Seen.clear();
  C.InputMouseWheel({}, 129, {});
  EXPECT_TRUE(Seen.empty());
  C.InputMouseWheel({}, 1, {});
  C.InputMouseWheel({}, -120, {});  // one whole notch down
  EXPECT_EQ(Seen, (std::vector<std::string>{"up", "down"}));
  // A wheel handler that takes the turn leaves the notches alone.
  Seen.clear();
  C.OnMouseWheel = [](TObject*, TShiftState, int, TPoint, bool& Handled) { Handled = true; };
  EXPECT_TRUE(C.InputMouseWheel({}, 480, {}));
  EXPECT_TRUE(Seen.empty());
}

TEST(Controls, AClickIsALeftPressAndReleaseInsideTheControl) {
  TControl C(nullptr);
  C.SetBounds(0, 0, 20, 10);
  int Clicks = 0, DoubleClicks = 0;
  C.OnClick = [&](TObject*) { ++Clicks; };
  C.OnDblClick = [&](TObject*) { ++DoubleClicks; };
  const struct {
    TMouseButton Button;
    int UpX, UpY;
    bool Double;
    int Clicks, DoubleClicks;
  } Cases[] = {
      {mbLeft, 19, 9, false, 1, 0},   // the last pixel inside
      {mbLeft, 20, 5, false, 0, 0},   // released just right of it
      {mbLeft, 5, 10, false, 0, 0},   // released just below it
      {mbLeft, -1, 5, false, 0, 0},
      {mbRight, 5, 5, false, 0, 0},
      {mbLeft, 5, 5, true, 0, 1},     // the release of a double click is no click
  };
  for (const auto& K : Cases) {
    Clicks = DoubleClicks = 0;
    C.InputMouseDown(K.Button, {}, 5, 5, K.Double);
    C.InputMouseUp(K.Button, {}, K.UpX, K.UpY);
    EXPECT_EQ(Clicks, K.Clicks) << K.UpX << "," << K.UpY;
    EXPECT_EQ(DoubleClicks, K.DoubleClicks) << K.UpX << "," << K.UpY;
  }
}

TEST(Anchors, ChildrenFollowTheParentsEdges) {
  TWinControl Parent(nullptr);
  Parent.SetBounds(0, 0, 300, 200);
  TWinControl Child(nullptr);
  Child.SetParent(&Parent);
  Child.SetBounds(10, 20, 100, 50);
  Child.SetAnchors(TAnchors{akLeft, akTop, akRight, akBottom});
  TWinControl Corner(nullptr);
  Corner.SetParent(&Parent);
  Corner.SetBounds(250, 170, 40, 20);
  Corner.SetAnchors(TAnchors{akRight, akBottom});
  Parent.HandleNeeded();
  Parent.SetBounds(0, 0, 400, 260);
  EXPECT_EQ(Child.BoundsRect(), (TRect{10, 20, 210, 130}));
  EXPECT_EQ(Corner.BoundsRect(), (TRect{350, 230, 390, 250}));
}

}  // namespace

#include "toolkit/QtApplication.h"

namespace {

TEST(QtApplication, ExceptionsFromEventHandlersReachTheExceptionHandler) {
  std::string Seen;
  SetExceptionHandler([&](const Exception& E) { Seen = E.Message(); });
  class TThrowing : public QObject {
   protected:
    bool event(QEvent*) override { throw EInvalidGraphic("broken"); }
  } Receiver;
  QEvent E(QEvent::User);
  ASSERT_NE(dynamic_cast<TQtApplication*>(qApp), nullptr);
  EXPECT_FALSE(QCoreApplication::sendEvent(&Receiver, &E));
  EXPECT_EQ(Seen, "broken");
  SetExceptionHandler(nullptr);
}

TEST(QtApplication, MemoryThatRanOutIsReportedAsTheSystemError) {
  std::vector<std::string> Seen;
  SetExceptionHandler([&](const Exception& E) { Seen.push_back(E.Message()); });
  class TThrowing : public QObject {
   protected:
    bool event(QEvent*) override { throw std::bad_alloc(); }
  } Receiver;
  QEvent E(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&Receiver, &E));
  EXPECT_EQ(Seen, std::vector<std::string>{"System Error.  Code: 12.\r\nCannot allocate memory"});
  SetExceptionHandler(nullptr);
}

}  // namespace
