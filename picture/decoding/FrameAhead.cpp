#include "picture/decoding/FrameAhead.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "picture/decoding/DecodedGraphic.h"
#include "picture/decoding/FrameCompositor.h"

namespace {

// Copies the composed canvas (W x H as stored) into Out, turned by O. Rows go
// in bands, so that a turn by a quarter writes whole cache lines.
void Present(const TBitmap& Canvas, TBitmap& Out, TOrientation O, std::int32_t W, std::int32_t H) {
  const TPoint Size = OrientedSize(O, W, H);
  if (Out.Width() != Size.X || Out.Height() != Size.Y || Out.BitsPerPixel() != 32)
    Out.AllocateImage(Size.X, Size.Y, 32, false);
  TOrientedRowWriter Writer(Out, O, W, H);
  constexpr std::int32_t Band = 32;
  for (std::int32_t Y = 0; Y < H; Y += Band)
    Writer.PutRows(Y, Canvas.ScanLine(Y), Canvas.Stride(), std::min(Band, H - Y));
}

// Workers still running, stopped or not: the program waits for them before
// the format libraries they may be inside are finalized.
struct TRunning {
  std::mutex Mutex;
  std::condition_variable Ended;
  int Count = 0;
};
TRunning& Running() {
  static TRunning R;
  return R;
}

}  // namespace

void FinishFrameAheadWorkers() {
  TRunning& R = Running();
  std::unique_lock<std::mutex> Lock(R.Mutex);
  R.Ended.wait(Lock, [&] { return R.Count == 0; });
}

TFrameAhead::TFrameAhead(std::shared_ptr<const void> File, std::shared_ptr<TFrameSource> Frames, std::int32_t W,
                         std::int32_t H, TOrientation O, int Shown)
    : FShared(std::make_shared<TShared>()) {
  FShared->File = std::move(File);
  FShared->Frames = std::move(Frames);
  FShared->Width = W;
  FShared->Height = H;
  FShared->Orientation = O;
  FShared->Spare = std::make_unique<TBitmap>();
  // The worker holds the state for as long as it runs, so that stopping it
  // never waits for the frame it is composing.
  {
    const std::lock_guard<std::mutex> Lock(Running().Mutex);
    ++Running().Count;
  }
  std::thread([S = FShared, Shown] {
    Work(S, Shown);
    TRunning& R = Running();
    const std::lock_guard<std::mutex> Lock(R.Mutex);
    if (--R.Count == 0) R.Ended.notify_all();
  }).detach();
}

TFrameAhead::~TFrameAhead() {
  {
    const std::lock_guard<std::mutex> Lock(FShared->Mutex);
    FShared->Stop = true;
  }
  FShared->Wake.notify_one();
}

bool TFrameAhead::Take(std::unique_ptr<TBitmap>& Shown, TFrame& Frame) {
  TShared& S = *FShared;
  {
    const std::lock_guard<std::mutex> Lock(S.Mutex);
    if (!S.Ready) {
      if (!S.GaveUp) return false;
      Frame = TFrame{-1, TRect{}, false, true};
      return true;
    }
    Frame = S.ReadyFrame;
    std::swap(Shown, S.Ready);
    S.Spare = std::move(S.Ready);
  }
  S.Wake.notify_one();
  return true;
}

void TFrameAhead::Work(const std::shared_ptr<TShared>& S, int Shown) {
  TFrameSource& Frames = *S->Frames;
  const int Count = Frames.FrameCount();
  const std::int32_t W = S->Width, H = S->Height;
  TBitmap Canvas;
  TFrameCompositor C;
  TFrame F;
  auto Compose = [&](int I) {
    if (I == 0) C.Start(Canvas, W, H);
    F = TFrame{I, TRect{}, false, false};
    C.BeginFrame(Frames.Frame(I));
    try {
      const std::lock_guard<std::mutex> Lock(Frames.Rendering);
      Frames.Render(I, C);
    } catch (...) {
      F.Failed = true;
    }
    const TRect Changed = C.EndFrame();
    F.Changed = OrientedArea(S->Orientation, W, H, I == 0 ? TRect{0, 0, W, H} : Changed);
    F.Opaque = C.Opaque();
  };
  try {
    // The canvas as the frame shown now left it; a frame that failed there
    // was shown as far as it was drawn.
    for (int I = 0; I <= Shown && I < Count && !S->Stop; ++I) Compose(I);
    for (int I = Shown; Count > 0 && !S->Stop;) {
      I = (I + 1) % Count;
      Compose(I);
      std::unique_ptr<TBitmap> Out;
      {
        std::unique_lock<std::mutex> Lock(S->Mutex);
        S->Wake.wait(Lock, [&] { return S->Stop || S->Spare; });
        if (S->Stop) return;
        Out = std::move(S->Spare);
      }
      Present(Canvas, *Out, S->Orientation, W, H);
      {
        const std::lock_guard<std::mutex> Lock(S->Mutex);
        S->Ready = std::move(Out);
        S->ReadyFrame = F;
      }
      if (F.Failed) return;
    }
  } catch (...) {
    // No memory for a canvas: the animation ends with the frame shown.
    const std::lock_guard<std::mutex> Lock(S->Mutex);
    S->GaveUp = true;
  }
}
