// The image view with graphics that are not opaque bitmaps, each measured
// against its bitmap counterpart in the same run: an 8-pixel scroll step of a
// metafile zoomed 16 times (drawn from its records, sharp) against the same
// step of a bitmap of the same size (stretched from its cache); and the scaled
// cache of a transparent bitmap (background filled first) against that of an
// opaque one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "KestImage/KestImage.h"

namespace {

std::unique_ptr<TKestImage> View(int ClientW, int ClientH) {
  auto V = std::make_unique<TKestImage>(nullptr);
  V->SetBorderStyle(bsNone);
  V->SetHideScrollBars(false);
  V->SetBounds(0, 0, ClientW + ScrollBarThickness, ClientH + ScrollBarThickness);
  V->SetLockScale(true);
  return V;
}

std::unique_ptr<TBitmap> NoiseBitmap(int W, int H) {
  auto B = std::make_unique<TBitmap>(W, H, pf32bit);
  for (int Y = 0; Y < H; ++Y) {
    auto* Row = reinterpret_cast<std::uint32_t*>(B->ScanLine(Y));
    for (int X = 0; X < W; ++X) Row[X] = 0xFF000000u | static_cast<std::uint32_t>(X * 2654435761u ^ Y * 40503u);
  }
  return B;
}

void U32(std::vector<std::uint8_t>& B, std::uint32_t V) {
  for (int I = 0; I < 4; ++I) B.push_back(static_cast<std::uint8_t>(V >> (8 * I)));
}

// A 375 x 215 drawing of 400 filled rectangles and ellipses in four colours,
// one device pixel per 0.1 mm.
std::unique_ptr<TMetafile> Drawing() {
  constexpr int W = 375, H = 215;
  std::vector<std::uint8_t> R;
  auto Rec = [&R](std::uint32_t Type, std::initializer_list<std::uint32_t> V) {
    U32(R, Type);
    U32(R, static_cast<std::uint32_t>(8 + 4 * V.size()));
    for (std::uint32_t X : V) U32(R, X);
  };
  const std::uint32_t Colors[4] = {0x0000FF, 0x00A000, 0xFF0000, 0x00C0C0};
  for (std::uint32_t I = 0; I < 4; ++I) Rec(39, {1 + I, 0, Colors[I], 0});
  std::uint32_t Seed = 12345;
  auto Next = [&Seed](int N) {
    Seed = Seed * 1103515245u + 12345u;
    return (Seed >> 8) % static_cast<std::uint32_t>(N);
  };
  for (int I = 0; I < 400; ++I) {
    Rec(37, {1 + Next(4)});
    const std::uint32_t X = Next(W - 20), Y = Next(H - 20);
    Rec(I % 2 ? 42 : 43, {X, Y, X + 3 + Next(17), Y + 3 + Next(17)});
  }
  Rec(14, {0, 16, 20});
  std::vector<std::uint8_t> E;
  U32(E, 1);
  U32(E, 108);
  for (std::uint32_t V : {0u, 0u, W - 1u, H - 1u, 0u, 0u, W * 10u - 10u, H * 10u - 10u}) U32(E, V);
  U32(E, 0x464D4520);
  U32(E, 0x10000);
  U32(E, static_cast<std::uint32_t>(108 + R.size()));
  U32(E, 806);
  U32(E, 5);  // 5 handles, no reserved word
  for (std::uint32_t V : {0u, 0u, 0u, 1000u, 1000u, 100u, 100u, 0u, 0u, 0u, 100000u, 100000u}) U32(E, V);
  E.insert(E.end(), R.begin(), R.end());
  auto M = std::make_unique<TMetafile>();
  M->LoadFromBytes(E);
  return M;
}

// Scrolls back and forth by 8 pixels and paints the uncovered strip.
void ScrollSteps(benchmark::State& State, std::unique_ptr<TGraphic> G, TCacheState Expected) {
  auto V = View(1600, 1000);
  V->SetScale(16);
  V->Picture()->SetGraphic(std::move(G));
  V->ScrollTo(TPoint{2000, 1000});
  V->Update();
  if (V->RenderCacheState() != Expected) State.SkipWithError("unexpected cache state");
  int Step = 8;
  for (auto _ : State) {
    V->ScrollTo(TPoint{V->Offset().X + Step, V->Offset().Y});
    V->Update();
    Step = -Step;
  }
}

void BM_MetafileScrollStepAt16x(benchmark::State& S) { ScrollSteps(S, Drawing(), cstNone); }
void BM_BitmapScrollStepAt16x(benchmark::State& S) { ScrollSteps(S, NoiseBitmap(375, 215), cstUnscaled); }
BENCHMARK(BM_MetafileScrollStepAt16x)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BitmapScrollStepAt16x)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Building the scaled cache of a 2048 x 2048 bitmap at 1.5 (3072 x 3072).
void CacheBuild(benchmark::State& State, bool Transparent) {
  auto V = View(800, 600);
  V->SetScale(1.5);
  V->SetTransparent(Transparent);
  V->Picture()->SetGraphic(NoiseBitmap(2048, 2048));
  if (V->RenderCacheState() != cstScaled) State.SkipWithError("no scaled cache");
  for (auto _ : State) {
    V->RebuildCache();
    benchmark::DoNotOptimize(V->RenderCache().View().Bits);
  }
  State.SetBytesProcessed(State.iterations() * std::int64_t{3072} * 3072 * 4);
}

void BM_OpaqueScaledCacheBuild(benchmark::State& S) { CacheBuild(S, false); }
void BM_TransparentScaledCacheBuild(benchmark::State& S) { CacheBuild(S, true); }
BENCHMARK(BM_OpaqueScaledCacheBuild)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TransparentScaledCacheBuild)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
