// Drawing a large picture smaller than its size and at its own size: the
// reduction pyramid, smooth and nearest first drawings at fit, repaints, and
// 24-bit rows at 1:1. Each is measured beside its comparison in the same run:
// a memory copy of the same bytes, or Qt's QPainter drawing the same picture
// into the same rectangle (from the same 24-bit bytes, and from Qt's own 32-bit
// form of it).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include <QImage>
#include <QPainter>

#include "KestImage/KestImage.h"
#include "support/CopyBytes.h"
#include "picture/scaling/Pyramid.h"

namespace {

constexpr int PicW = 6000, PicH = 4000;  // 24 megapixels
constexpr int ClientW = 1600, ClientH = 1000;

// A photo-like 24-bit picture: smooth gradients with fine detail.
TBitmap& Picture24() {
  static std::unique_ptr<TBitmap> B = [] {
    auto P = std::make_unique<TBitmap>(PicW, PicH, pf24bit);
    for (int Y = 0; Y < PicH; ++Y) {
      std::uint8_t* Row = P->ScanLine(Y);
      for (int X = 0; X < PicW; ++X) {
        Row[3 * X] = static_cast<std::uint8_t>(X / 24 + ((X ^ Y) & 7));
        Row[3 * X + 1] = static_cast<std::uint8_t>(Y / 16 + ((X * Y) & 3));
        Row[3 * X + 2] = static_cast<std::uint8_t>((X + Y) / 40);
      }
    }
    return P;
  }();
  return *B;
}

// The same picture as Qt holds it: over the same bytes, and in Qt's 32-bit form.
const QImage& QtPicture(bool SameBytes) {
  static const QImage Bgr(Picture24().ScanLine(0), PicW, PicH, Picture24().Stride(), QImage::Format_BGR888);
  static const QImage Rgb32 = Bgr.convertToFormat(QImage::Format_RGB32);
  return SameBytes ? Bgr : Rgb32;
}

// A client whose fit is no whole halving of the picture: 1425 x 950.
constexpr int UnevenClientW = 1500, UnevenClientH = 950;

// A view of the client size showing a copy of the picture.
std::unique_ptr<TKestImage> View(TResampling Mode, int W = ClientW, int H = ClientH) {
  auto V = std::make_unique<TKestImage>(nullptr);
  V->SetBorderStyle(bsNone);
  V->SetHideScrollBars(false);
  V->SetBounds(0, 0, W + ScrollBarThickness, H + ScrollBarThickness);
  V->SetResampling(Mode);
  auto B = std::make_unique<TBitmap>();
  B->Assign(&Picture24());
  V->Picture()->SetGraphic(std::move(B));
  return V;
}

TBitmap& Shown(TKestImage& V) { return *static_cast<TBitmap*>(V.Picture()->Graphic()); }

// Processor time of all the process's threads, which counts the work of
// helper threads too: on a loaded machine it varies less than wall time.
double ProcessSeconds() {
  timespec T;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_nsec) * 1e-9;
}

// Reports the process's processor time per iteration since Start, in ms.
void CountProcessTime(benchmark::State& State, double Start) {
  const auto Iterations = std::max<benchmark::IterationCount>(State.iterations(), 1);
  State.counters["process_cpu_ms"] = (ProcessSeconds() - Start) * 1e3 / static_cast<double>(Iterations);
}

void Paint(TKestImage& V) {
  V.Invalidate();
  V.Update();
}

// --- The pyramid -------------------------------------------------------------

void BM_PyramidBuild24MP(benchmark::State& State) {
  const TPixelView Source = Picture24().View();
  for (auto _ : State) {
    TPyramid P(0);
    benchmark::DoNotOptimize(P.LevelFor(Source, 1, 1).Pixels.Bits);
  }
  State.SetBytesProcessed(State.iterations() * std::int64_t{PicW} * PicH * 3);
}
BENCHMARK(BM_PyramidBuild24MP)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyPictureBytes24MP(benchmark::State& State) { CopyBytes(State, std::size_t{PicW} * PicH * 3); }
BENCHMARK(BM_CopyPictureBytes24MP)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same two timed alternately in one loop, so that both meet the same load
// on a shared machine: "ratio" is the build's wall time over the copy's, and
// "cpu_ratio" the same in processor time of all the process's threads (the
// build runs on two).

void BM_PyramidBuildVsCopy24MP(benchmark::State& State) {
  using Clock = std::chrono::steady_clock;
  const TPixelView Source = Picture24().View();
  const std::size_t Bytes = std::size_t{PicW} * PicH * 3;
  std::vector<std::uint8_t> From(Bytes, 1), To(Bytes, 2);
  double Build = 0, Copy = 0, BuildCpu = 0, CopyCpu = 0;
  for (auto _ : State) {
    auto W = Clock::now();
    double C = ProcessSeconds();
    {
      TPyramid P(0);
      benchmark::DoNotOptimize(P.LevelFor(Source, 1, 1).Pixels.Bits);
    }
    Build += std::chrono::duration<double>(Clock::now() - W).count();
    BuildCpu += ProcessSeconds() - C;
    W = Clock::now();
    C = ProcessSeconds();
    std::memcpy(To.data(), From.data(), Bytes);
    benchmark::DoNotOptimize(To.data());
    benchmark::ClobberMemory();
    Copy += std::chrono::duration<double>(Clock::now() - W).count();
    CopyCpu += ProcessSeconds() - C;
  }
  State.counters["ratio"] = Build / Copy;
  State.counters["cpu_ratio"] = BuildCpu / CopyCpu;
}
BENCHMARK(BM_PyramidBuildVsCopy24MP)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- First drawings at fit (the pixels change before every paint) -------------

void FirstDrawAtFit(benchmark::State& State, TResampling Mode, int W = ClientW, int H = ClientH) {
  auto V = View(Mode, W, H);
  V->Zoom(zkBestFit, -1, -1);
  if (V->RenderCacheState() != cstNone) State.SkipWithError("expected direct drawing");
  const double Start = ProcessSeconds();
  for (auto _ : State) {
    Shown(*V).PixelsChanged();
    Paint(*V);
  }
  CountProcessTime(State, Start);
}
void BM_SmoothFirstDrawAtFit(benchmark::State& S) { FirstDrawAtFit(S, rsSmooth); }
void BM_NearestFirstDrawAtFit(benchmark::State& S) { FirstDrawAtFit(S, rsNearest); }
void BM_SmoothFirstDrawAtUnevenFit(benchmark::State& S) { FirstDrawAtFit(S, rsSmooth, UnevenClientW, UnevenClientH); }
BENCHMARK(BM_SmoothFirstDrawAtFit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NearestFirstDrawAtFit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SmoothFirstDrawAtUnevenFit)->Unit(benchmark::kMillisecond)->UseRealTime();

// QPainter into the rectangle the view fits the picture into.
void QtDrawAtFit(benchmark::State& State, Qt::TransformationMode Mode, bool SameBytes, int W = ClientW,
                 int H = ClientH) {
  auto V = View(rsNearest, W, H);
  V->Zoom(zkBestFit, -1, -1);
  const TRect R = V->GetImageRect();
  QImage Target(W, H, QImage::Format_RGB32);
  const QImage& Source = QtPicture(SameBytes);
  const double Start = ProcessSeconds();
  for (auto _ : State) {
    QPainter P(&Target);
    P.setRenderHint(QPainter::SmoothPixmapTransform, Mode == Qt::SmoothTransformation);
    P.drawImage(QRect(R.Left, R.Top, R.Width(), R.Height()), Source);
    P.end();
    benchmark::DoNotOptimize(Target.constBits());
  }
  CountProcessTime(State, Start);
}
void BM_QtSmoothDrawAtFit_Bgr24(benchmark::State& S) { QtDrawAtFit(S, Qt::SmoothTransformation, true); }
void BM_QtSmoothDrawAtFit_Rgb32(benchmark::State& S) { QtDrawAtFit(S, Qt::SmoothTransformation, false); }
void BM_QtFastDrawAtFit_Bgr24(benchmark::State& S) { QtDrawAtFit(S, Qt::FastTransformation, true); }
void BM_QtFastDrawAtFit_Rgb32(benchmark::State& S) { QtDrawAtFit(S, Qt::FastTransformation, false); }
void BM_QtSmoothDrawAtUnevenFit_Rgb32(benchmark::State& S) {
  QtDrawAtFit(S, Qt::SmoothTransformation, false, UnevenClientW, UnevenClientH);
}
BENCHMARK(BM_QtSmoothDrawAtFit_Bgr24)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QtSmoothDrawAtFit_Rgb32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QtFastDrawAtFit_Bgr24)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QtFastDrawAtFit_Rgb32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QtSmoothDrawAtUnevenFit_Rgb32)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Repaints ------------------------------------------------------------------

// At fit nothing scrolls: each paint draws the kept reduction again.
void RepaintAtFit(benchmark::State& State, TResampling Mode) {
  auto V = View(Mode);
  V->Zoom(zkBestFit, -1, -1);
  Paint(*V);
  for (auto _ : State) Paint(*V);
}
void BM_SmoothRepaintAtFit(benchmark::State& S) { RepaintAtFit(S, rsSmooth); }
void BM_NearestRepaintAtFit(benchmark::State& S) { RepaintAtFit(S, rsNearest); }
BENCHMARK(BM_SmoothRepaintAtFit)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_NearestRepaintAtFit)->Unit(benchmark::kMicrosecond)->UseRealTime();

// At 50 % the picture scrolls and is painted from the scaled render cache.
void RepaintFromScaledCache(benchmark::State& State, TResampling Mode) {
  auto V = View(Mode);
  V->SetScale(0.5);
  V->ScrollTo(TPoint{333, 444});
  if (V->RenderCacheState() != cstScaled) State.SkipWithError("no scaled cache");
  for (auto _ : State) Paint(*V);
}
void BM_SmoothRepaintFromScaledCache(benchmark::State& S) { RepaintFromScaledCache(S, rsSmooth); }
void BM_NearestRepaintFromScaledCache(benchmark::State& S) { RepaintFromScaledCache(S, rsNearest); }
BENCHMARK(BM_SmoothRepaintFromScaledCache)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_NearestRepaintFromScaledCache)->Unit(benchmark::kMicrosecond)->UseRealTime();

// --- At 100 %: too large for a cache, drawn row by row -----------------------------

void BM_PaintAt100Percent24Bit(benchmark::State& State) {
  auto V = View(rsNearest);
  V->ScrollTo(TPoint{1234, 567});
  if (V->RenderCacheState() != cstNone) State.SkipWithError("expected direct drawing");
  for (auto _ : State) Paint(*V);
  State.SetBytesProcessed(State.iterations() * std::int64_t{ClientW} * ClientH * 4);
}
BENCHMARK(BM_PaintAt100Percent24Bit)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_CopyClientRows(benchmark::State& State) { CopyBytes(State, std::size_t{ClientW} * ClientH * 4); }
BENCHMARK(BM_CopyClientRows)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
