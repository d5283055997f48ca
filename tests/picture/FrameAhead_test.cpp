// Animations too large to compose within a timer step: their frames are
// composed ahead on a worker thread and swapped in when due (shown late when
// not ready), and animations over the budget show their first frame.
#include "picture/FrameAhead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "picture/DecodedGraphic.h"
#include "picture/Limits.h"
#include "toolkit/Timer.h"

namespace {

struct TPlan {
  std::vector<TFrameInfo> Frames;
  std::vector<std::uint32_t> Colors;  // premultiplied, one per frame
  // Render of this frame waits on a worker thread until Released.
  std::atomic<int> HoldAt{-1};
  std::atomic<bool> Held{false}, Released{false};
  std::atomic<int> RenderedOnCaller{0};
  std::thread::id Caller = std::this_thread::get_id();
};

class TPlanFrames : public TFrameSource {
 public:
  explicit TPlanFrames(std::shared_ptr<TPlan> P) : FPlan(std::move(P)) {}
  int FrameCount() const override { return static_cast<int>(FPlan->Frames.size()); }
  int LoopCount() const override { return 2; }
  TFrameInfo Frame(int I) const override { return FPlan->Frames[static_cast<std::size_t>(I)]; }
  void Render(int I, TFrameCompositor& C) override {
    TPlan& P = *FPlan;
    if (std::this_thread::get_id() == P.Caller) {
      if (I > 0) ++P.RenderedOnCaller;
    } else if (I == P.HoldAt) {
      P.Held = true;
      while (!P.Released) std::this_thread::yield();
    }
    const TRect& R = P.Frames[static_cast<std::size_t>(I)].Rect;
    const std::vector<std::uint32_t> Row(static_cast<std::size_t>(R.Width()), P.Colors[static_cast<std::size_t>(I)]);
    for (std::int32_t Y = 0; Y < R.Height(); ++Y) C.PutRow(Y, Row.data());
  }

 private:
  std::shared_ptr<TPlan> FPlan;
};

class TPlanAnimation : public TDecodedGraphic {
 public:
  TPlanAnimation(std::int32_t W, std::int32_t H, TOrientation O, std::shared_ptr<TPlan> P)
      : FW(W), FH(H), FO(O), FPlan(std::move(P)) {
    auto S = TMemoryStream::Over(std::vector<std::uint8_t>{1});
    LoadFromStream(*S);
  }

 protected:
  THeader ReadHeader(std::span<const std::uint8_t>) const override { return THeader{FW, FH, true, FO}; }
  std::unique_ptr<TFrameSource> OpenFrames(std::span<const std::uint8_t>) override {
    return std::make_unique<TPlanFrames>(FPlan);
  }
  const char* FormatName() const override { return "test"; }

 private:
  std::int32_t FW, FH;
  TOrientation FO;
  std::shared_ptr<TPlan> FPlan;
};

// Four frames over a W x H canvas: an opaque whole, a square restored
// afterwards, a half-transparent area cleared afterwards, and a corner
// replaced without blending.
std::shared_ptr<TPlan> FourFrames(std::int32_t W, std::int32_t H) {
  auto P = std::make_shared<TPlan>();
  P->Frames = {{TRect{0, 0, W, H}, 100, fdKeep, true},
               {TRect{W / 8, H / 6, W / 3, H / 2}, 100, fdPrevious, true},
               {TRect{W / 2, H / 3, W - 3, H - 1}, 100, fdBackground, true},
               {TRect{0, 0, 50, 40}, 100, fdKeep, false}};
  P->Colors = {0xFFFF0000u, 0xFF0000FFu, 0x80008000u, 0x40404000u};
  return P;
}

class FrameAheadTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTimerScheduler(&FClock); }
  void TearDown() override { SetTimerScheduler(nullptr); }
  // Moves the clock on until G shows its next frame.
  void StepTo(TDecodedGraphic& G, const std::size_t& Changes) {
    const std::size_t Before = Changes;
    const auto Limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Changes == Before && G.Animating() && std::chrono::steady_clock::now() < Limit) {
      FClock.Advance(10);
      if (Changes == Before) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  TManualTimerScheduler FClock;
};

// Every frame, over two plays, shows what the compositor gives, turned as the
// file says, with the changed area turned; none is rendered on the thread of
// the timer.
TEST_F(FrameAheadTest, LargeAnimationsShowEveryFrameComposedOnAWorker) {
  const std::int32_t W = 1024, H = 300;
  ASSERT_GT(std::uint64_t(W) * H, MaxTimerStepPixels);
  for (const TOrientation O : {orNormal, orRotate90}) {
    SCOPED_TRACE(O);
    auto Plan = FourFrames(W, H);
    TPlanAnimation G(W, H, O, Plan);
    std::size_t Changes = 0;
    TRect Changed;
    G.OnFrame = [&](TObject*, const TRect& R) { ++Changes, Changed = R; };
    TBitmap Canvas;
    TFrameCompositor Reference;
    ASSERT_TRUE(G.Bitmap());
    for (int Step = 0; Step < 8; ++Step) {
      const int I = Step % 4;
      if (I == 0) Reference.Start(Canvas, W, H);
      Reference.BeginFrame(Plan->Frames[static_cast<std::size_t>(I)]);
      const std::vector<std::uint32_t> Row(W, Plan->Colors[static_cast<std::size_t>(I)]);
      for (std::int32_t Y = 0; Y < H; ++Y) Reference.PutRow(Y, Row.data());
      const TRect R = Reference.EndFrame();
      if (Step > 0) {
        StepTo(G, Changes);
        ASSERT_EQ(Changes, std::size_t(Step));
        EXPECT_EQ(Changed, OrientedArea(O, W, H, I == 0 ? TRect{0, 0, W, H} : R));
      }
      ASSERT_EQ(G.FrameIndex(), I);
      const TBitmap& Shown = *G.Bitmap();
      int Wrong = 0;
      for (std::int32_t Y = 0; Y < H; Y += 3)
        for (std::int32_t X = 0; X < W; X += 5) {
          const TPoint D = OrientedPoint(O, W, H, X, Y);
          Wrong += reinterpret_cast<const std::uint32_t*>(Shown.ScanLine(D.Y))[D.X] !=
                   reinterpret_cast<const std::uint32_t*>(Canvas.ScanLine(Y))[X];
        }
      EXPECT_EQ(Wrong, 0) << "step " << Step;
      EXPECT_EQ(G.Transparent(), !Reference.Opaque());
    }
    // Two plays, then the last frame stays.
    StepTo(G, Changes);
    EXPECT_FALSE(G.Animating());
    EXPECT_EQ(G.FrameIndex(), 3);
    EXPECT_EQ(Plan->RenderedOnCaller, 0);
  }
}

// A frame not ready when due is shown late: the step returns at once, the
// animation goes on, and the frame shows as soon as it is ready.
TEST_F(FrameAheadTest, AFrameNotReadyWhenDueIsShownLate) {
  auto Plan = FourFrames(1024, 300);
  Plan->HoldAt = 1;
  TPlanAnimation G(1024, 300, orNormal, Plan);
  std::size_t Changes = 0;
  G.OnFrame = [&](TObject*, const TRect&) { ++Changes; };
  ASSERT_TRUE(G.Bitmap());
  const auto Limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Plan->Held && std::chrono::steady_clock::now() < Limit)
    std::this_thread::yield();
  FClock.Advance(150);
  EXPECT_EQ(Changes, 0u);
  EXPECT_EQ(G.FrameIndex(), 0);
  EXPECT_TRUE(G.Animating());
  Plan->Released = true;
  StepTo(G, Changes);
  EXPECT_EQ(Changes, 1u);
  EXPECT_EQ(G.FrameIndex(), 1);
  EXPECT_EQ(Plan->RenderedOnCaller, 0);
}

// Over the budget, the first frame shows as a still picture.
TEST_F(FrameAheadTest, AnimationsOverTheBudgetShowTheirFirstFrame) {
  const std::int32_t W = 4097, H = 4096;
  ASSERT_GT(std::uint64_t(W) * H, MaxAnimationPixels);
  auto Plan = FourFrames(W, H);
  TPlanAnimation G(W, H, orNormal, Plan);
  const TBitmap* B = G.Bitmap();
  ASSERT_TRUE(B);
  EXPECT_EQ(G.FrameCount(), 1);
  EXPECT_FALSE(G.Animating());
  EXPECT_EQ(reinterpret_cast<const std::uint32_t*>(B->ScanLine(H - 1))[W - 1], 0xFFFF0000u);
}

}  // namespace
