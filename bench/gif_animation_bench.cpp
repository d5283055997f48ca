// An animated GIF of 100 frames at 1000 x 1000 playing in the view: each frame
// (a 300 x 300 square moving over the picture), composed ahead on a worker, is
// swapped in by the timer's step and the view repaints the changed area. Set beside a memcpy of the changed area's pixels
// (300 rows of 300 x 4 bytes, at the frame's place, from one 1000 x 1000
// picture into another), timed in turn in the same run; "ratio" is our time
// per frame / the memcpy's. Both run on this thread alone and are timed by
// its CPU clock: at tens of microseconds, wall-clock time on a shared machine
// measures the other programs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "../tests/support/GifFiles.h"
#include "KestImage/KestImage.h"
#include "picture/gif/Gif.h"
#include "toolkit/Timer.h"

namespace {

constexpr int Side = 1000, Square = 300, Frames = 100;

std::vector<std::uint8_t> MakeAnimation() {
  TGifFileSpec S;
  S.Width = S.Height = Side;
  S.Loops = 0;
  S.Colors.resize(256);
  for (std::uint32_t I = 0; I < 256; ++I) S.Colors[I] = I * 0x010305u & 0xFFFFFF;
  auto Noise = [](int X, int Y) { return static_cast<int>((static_cast<unsigned>(X * 7919 + Y * 104729) * 2654435761u) >> 24); };
  TGifFrameSpec First;
  First.Width = First.Height = Side;
  First.Index = Noise;
  S.Frames.push_back(First);
  for (int I = 1; I < Frames; ++I) {
    TGifFrameSpec F;
    F.Left = (I * 7) % (Side - Square);
    F.Top = (I * 13) % (Side - Square);
    F.Width = F.Height = Square;
    F.Index = [I, Noise](int X, int Y) { return Noise(X + I, Y); };
    S.Frames.push_back(F);
  }
  return MakeGif(S);
}

double ThreadSeconds() {
  timespec T;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_nsec) * 1e-9;
}

void BM_GifFrameComposeAndRepaint(benchmark::State& State) {
  TManualTimerScheduler Clock;
  SetTimerScheduler(&Clock);
  const auto Bytes = MakeAnimation();
  TKestImage View(nullptr);
  View.SetBorderStyle(bsNone);
  View.SetScaleMode(smNormal);
  View.SetBounds(0, 0, Side, Side);
  {
    TPicture P;
    auto G = std::make_unique<TGifImage>();
    G->LoadFromStream(*TMemoryStream::Over(Bytes));
    P.SetGraphic(std::move(G));
    View.SetPicture(&P);
  }
  View.Invalidate();
  View.Update();  // the first drawing decodes the frames
  auto* G = static_cast<TGifImage*>(View.Picture()->Graphic());
  std::vector<std::uint32_t> From(Side * Side, 1), To(Side * Side);
  double Ours = 0, Copy = 0;
  int Frame = 1;
  for (auto _ : State) {
    // The frames of a canvas this large are composed ahead on a worker: the
    // clock moves on until the step that shows the next one, which is timed.
    const int Before = G->FrameIndex();
    double T = 0;
    for (;;) {
      const double T0 = ThreadSeconds();
      Clock.Advance(10);  // the next frame when due: swapped in, its area invalidated
      if (G->FrameIndex() != Before) {
        View.Update();  // and repainted
        T = ThreadSeconds() - T0;
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    Ours += T;
    State.SetIterationTime(T);
    const std::size_t At = std::size_t((Frame * 13) % (Side - Square)) * Side + (Frame * 7) % (Side - Square);
    Frame = Frame % (Frames - 1) + 1;
    const double T0 = ThreadSeconds();
    for (int Y = 0; Y < Square; ++Y)
      std::memcpy(To.data() + At + std::size_t(Y) * Side, From.data() + At + std::size_t(Y) * Side, Square * 4);
    benchmark::DoNotOptimize(To.data());
    Copy += ThreadSeconds() - T0;
  }
  State.counters["memcpy_us"] = Copy * 1e6 / static_cast<double>(State.iterations());
  State.counters["ratio"] = Ours / Copy;
  SetTimerScheduler(nullptr);
}

BENCHMARK(BM_GifFrameComposeAndRepaint)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(1000);

}  // namespace
