#include "toolkit/Controls.h"

#include <gtest/gtest.h>

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

TEST(WindowModel, ScrollBarStateKeepsThePositionWhereTheThumbCanBe) {
  auto P = ProbeWithBarsAndEdge();
  SCROLLINFO I;
  I.fMask = SIF_ALL;
  I.nMin = 0;
  I.nMax = 99999;
  I.nPage = 1000;
  I.nPos = 99500;
  EXPECT_EQ(SetScrollInfo(P->Handle(), SB_HORZ, I, true), 99000);
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
