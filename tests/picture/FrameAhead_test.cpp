// Animations too large to compose within a timer step: their frames are
// composed ahead on a worker thread and swapped in when due (shown late when
// not ready), and animations over the budget show their first frame.
#include "picture/decoding/FrameAhead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "picture/decoding/DecodedGraphic.h"
#include "picture/Limits.h"
#include "toolkit/Timer.h"

namespace {

// Four frames, played twice: an opaque whole, a square restored afterwards, a
// half-transparent area cleared afterwards, a corner replaced without blending.
// Frame HoldAt waits on a worker thread until Released.
struct TPlan {
  std::vector<TFrameInfo> Frames;
  std::vector<std::uint32_t> Colors{0xFFFF0000u, 0xFF0000FFu, 0x80008000u, 0x40404000u};
  std::atomic<int> HoldAt{-1}, RenderedOnCaller{0};
  std::atomic<bool> Released{false};
  std::thread::id Caller = std::this_thread::get_id();
  TPlan(std::int32_t W, std::int32_t H)
      : Frames{{TRect{0, 0, W, H}, 100, fdKeep, true},
               {TRect{W / 8, H / 6, W / 3, H / 2}, 100, fdPrevious, true},
               {TRect{W / 2, H / 3, W - 3, H - 1}, 100, fdBackground, true},
               {TRect{0, 0, 50, 40}, 100, fdKeep, false}} {}
  void Enter(int I) {
    if (std::this_thread::get_id() == Caller)
      RenderedOnCaller += I > 0;
    else if (I == HoldAt)
      while (!Released) std::this_thread::yield();
  }
  void Draw(int I, TFrameCompositor& C) const {
    const TRect& R = Frames[static_cast<std::size_t>(I)].Rect;
    const std::vector<std::uint32_t> Row(static_cast<std::size_t>(R.Width()), Colors[static_cast<std::size_t>(I)]);
    for (std::int32_t Y = 0; Y < R.Height(); ++Y) C.PutRow(Y, Row.data());
  }
};

class TPlanAnimation : public TDecodedGraphic {
 public:
  TPlanAnimation(std::int32_t W, std::int32_t H, TOrientation O) : FPlan(std::make_shared<TPlan>(W, H)), FO(O) {
    LoadFromStream(*TMemoryStream::Over(std::vector<std::uint8_t>{1}));
  }
  TPlan& Plan() { return *FPlan; }

 protected:
  THeader ReadHeader(std::span<const std::uint8_t>) const override {
    return THeader{FPlan->Frames[0].Rect.Right, FPlan->Frames[0].Rect.Bottom, true, FO};
  }
  std::unique_ptr<TFrameSource> OpenFrames(std::span<const std::uint8_t>) override {
    struct TFrames : TFrameSource {
      std::shared_ptr<TPlan> P;
      int FrameCount() const override { return 4; }
      int LoopCount() const override { return 2; }
      TFrameInfo Frame(int I) const override { return P->Frames[static_cast<std::size_t>(I)]; }
      void Render(int I, TFrameCompositor& C) override {
        P->Enter(I);
        P->Draw(I, C);
      }
    };
    auto F = std::make_unique<TFrames>();
    F->P = FPlan;
    return F;
  }
  const char* FormatName() const override { return "test"; }

 private:
  std::shared_ptr<TPlan> FPlan;
  TOrientation FO;
};

class FrameAheadTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTimerScheduler(&FClock); }
  void TearDown() override { SetTimerScheduler(nullptr); }
  // Moves the clock on until G shows its next frame.
  void StepTo(TDecodedGraphic& G, const std::size_t& Changes) {
    const std::size_t Before = Changes;
    for (int I = 0; I < 60000 && Changes == Before && G.Animating(); ++I) {
      FClock.Advance(10);
      if (Changes == Before) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  TManualTimerScheduler FClock;
};

// Every frame, over two plays, shows what the compositor gives, turned as the
// file says, with the changed area turned; none is rendered on the timer's
// thread. A frame not ready when due is shown late: the step returns at once
// and the animation goes on.
TEST_F(FrameAheadTest, LargeAnimationsShowEveryFrameComposedOnAWorker) {
  const std::int32_t W = 1024, H = 300;
  ASSERT_GT(std::uint64_t(W) * H, MaxTimerStepPixels);
  for (const TOrientation O : {orNormal, orRotate90}) {
    SCOPED_TRACE(O);
    TPlanAnimation G(W, H, O);
    TPlan& Plan = G.Plan();
    Plan.HoldAt = 1;
    std::size_t Changes = 0;
    TRect Changed;
    G.OnFrame = [&](TObject*, const TRect& R) { ++Changes, Changed = R; };
    TBitmap Canvas;
    TFrameCompositor Reference;
    ASSERT_TRUE(G.Bitmap());
    FClock.Advance(150);
    EXPECT_EQ(Changes, 0u);
    EXPECT_TRUE(G.Animating());
    Plan.Released = true;
    for (int Step = 0; Step < 8; ++Step) {
      const int I = Step % 4;
      if (I == 0) Reference.Start(Canvas, W, H);
      Reference.BeginFrame(Plan.Frames[static_cast<std::size_t>(I)]);
      Plan.Draw(I, Reference);
      const TRect R = Reference.EndFrame();
      if (Step > 0) {
        StepTo(G, Changes);
        ASSERT_EQ(Changes, std::size_t(Step));
        EXPECT_EQ(Changed, OrientedArea(O, W, H, I == 0 ? TRect{0, 0, W, H} : R));
      }
      ASSERT_EQ(G.FrameIndex(), I);
      int Wrong = 0;
      for (std::int32_t Y = 0; Y < H; Y += 3)
        for (std::int32_t X = 0; X < W; X += 5) {
          const TPoint D = OrientedPoint(O, W, H, X, Y);
          Wrong += reinterpret_cast<const std::uint32_t*>(G.Bitmap()->ScanLine(D.Y))[D.X] !=
                   reinterpret_cast<const std::uint32_t*>(Canvas.ScanLine(Y))[X];
        }
      EXPECT_EQ(Wrong, 0) << "step " << Step;
      EXPECT_EQ(G.Transparent(), !Reference.Opaque());
    }
    // Two plays, then the last frame stays.
    StepTo(G, Changes);
    EXPECT_FALSE(G.Animating());
    EXPECT_EQ(G.FrameIndex(), 3);
    EXPECT_EQ(Plan.RenderedOnCaller, 0);
  }
}

// Over the budget, the first frame shows as a still picture.
TEST_F(FrameAheadTest, AnimationsOverTheBudgetShowTheirFirstFrame) {
  ASSERT_GT(std::uint64_t(4097) * 4096, MaxAnimationPixels);
  TPlanAnimation G(4097, 4096, orNormal);
  ASSERT_TRUE(G.Bitmap());
  EXPECT_EQ(G.FrameCount(), 1);
  EXPECT_FALSE(G.Animating());
  EXPECT_EQ(reinterpret_cast<const std::uint32_t*>(G.Bitmap()->ScanLine(4095))[4096], 0xFFFF0000u);
}

}  // namespace
