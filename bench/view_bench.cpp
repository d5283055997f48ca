// The image view's render cache and painting, each measured against a plain
// memory copy of the same number of bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "KestImage/KestImage.h"
#include "support/CopyBytes.h"

namespace {

std::unique_ptr<TKestImage> ViewWithPicture(int ClientW, int ClientH, int PicW, int PicH) {
  auto V = std::make_unique<TKestImage>(nullptr);
  V->SetBorderStyle(bsNone);
  V->SetHideScrollBars(false);
  V->SetBounds(0, 0, ClientW + ScrollBarThickness, ClientH + ScrollBarThickness);
  auto B = std::make_unique<TBitmap>(PicW, PicH, pf32bit);
  for (int Y = 0; Y < PicH; ++Y) {
    auto* Row = reinterpret_cast<std::uint32_t*>(B->ScanLine(Y));
    for (int X = 0; X < PicW; ++X) Row[X] = 0xFF000000u | static_cast<std::uint32_t>(X * 2654435761u ^ Y * 40503u);
  }
  V->Picture()->SetGraphic(std::move(B));
  return V;
}

// Building the scaled cache of a 2048 x 2048 picture at 1.5 (3072 x 3072).
void BM_ScaledCacheBuild(benchmark::State& State) {
  auto V = ViewWithPicture(800, 600, 2048, 2048);
  V->SetScale(1.5);
  if (V->RenderCacheState() != cstScaled) State.SkipWithError("no scaled cache");
  for (auto _ : State) {
    V->RebuildCache();
    benchmark::DoNotOptimize(V->RenderCache().View().Bits);
  }
  State.SetBytesProcessed(State.iterations() * std::int64_t{3072} * 3072 * 4);
}
BENCHMARK(BM_ScaledCacheBuild)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyCacheBytes(benchmark::State& State) { CopyBytes(State, std::size_t{3072} * 3072 * 4); }
BENCHMARK(BM_CopyCacheBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

// Painting a whole 1600 x 1000 client area from the scaled cache.
void BM_PaintFromScaledCache(benchmark::State& State) {
  auto V = ViewWithPicture(1600, 1000, 2048, 2048);
  V->SetScale(1.5);
  V->ScrollTo(TPoint{333, 444});
  if (V->RenderCacheState() != cstScaled) State.SkipWithError("no scaled cache");
  for (auto _ : State) {
    V->Invalidate();
    V->Update();
  }
  State.SetBytesProcessed(State.iterations() * std::int64_t{1600} * 1000 * 4);
}
BENCHMARK(BM_PaintFromScaledCache)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_CopyClientBytes(benchmark::State& State) { CopyBytes(State, std::size_t{1600} * 1000 * 4); }
BENCHMARK(BM_CopyClientBytes)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Drawing straight from the graphic costs what is visible, not the picture's
// size. Repaints draw the kept reduction again; a first drawing (or one after
// the pixels changed) samples the picture, one cache line per target pixel.
void PaintDirect(benchmark::State& State, int W, int H, double Scale, bool First) {
  auto V = ViewWithPicture(640, 480, W, H);
  V->SetScale(Scale);
  if (V->RenderCacheState() != cstNone) State.SkipWithError("expected direct drawing");
  auto* B = static_cast<TBitmap*>(V->Picture()->Graphic());
  for (auto _ : State) {
    if (First) B->PixelsChanged();
    V->Invalidate();
    V->Update();
  }
}
void BM_Direct48MegapixelsAt5Percent(benchmark::State& S) { PaintDirect(S, 8000, 6000, 0.05, false); }
void BM_Direct4MegapixelsAt15Percent(benchmark::State& S) { PaintDirect(S, 2000, 2000, 0.15, false); }
void BM_FirstDraw48MegapixelsAt5Percent(benchmark::State& S) { PaintDirect(S, 8000, 6000, 0.05, true); }
void BM_FirstDraw4MegapixelsAt15Percent(benchmark::State& S) { PaintDirect(S, 2000, 2000, 0.15, true); }
BENCHMARK(BM_Direct48MegapixelsAt5Percent)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Direct4MegapixelsAt15Percent)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FirstDraw48MegapixelsAt5Percent)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FirstDraw4MegapixelsAt15Percent)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
