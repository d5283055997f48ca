// Loading 6000 x 4000 bitmap files of 8 bits with a 256-colour table (24 MB),
// 24 bits and 32 bits through TPicture::LoadFile, set beside Qt's and
// gdk-pixbuf's readers of the same files, timed in turn in the same run.
// Counters: "qt_ratio" and "pixbuf_ratio" are our time / theirs (at most 1:
// we are as fast or ahead), by the wall clock and, as "_cpu", by this
// thread's CPU clock (all three read on the calling thread alone).
// glib's headers first: they use a member name that Qt defines as a keyword.
#include "support/ReaderTimes.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <cstdio>
#include <stdexcept>

#include "picture/Graphic.h"

namespace {

constexpr std::uint32_t Width = 6000, Height = 4000;

void PutLE(std::vector<std::uint8_t>& B, std::uint32_t V, int Bytes) {
  for (int I = 0; I < Bytes; ++I) B.push_back(static_cast<std::uint8_t>(V >> (8 * I)));
}

// A bottom-up bitmap file of the given depth with photo-like pixels.
std::vector<std::uint8_t> MakeBmp(std::uint32_t Bpp) {
  const std::uint32_t Colors = Bpp == 8 ? 256 : 0;
  const std::uint32_t Row = (Width * Bpp + 31) / 32 * 4;
  const std::uint32_t Offset = 14 + 40 + 4 * Colors;
  std::vector<std::uint8_t> B;
  B.reserve(Offset + std::size_t{Row} * Height);
  PutLE(B, 0x4D42, 2);
  PutLE(B, Offset + Row * Height, 4);
  PutLE(B, 0, 4);
  PutLE(B, Offset, 4);
  for (std::uint32_t V : {40u, Width, Height}) PutLE(B, V, 4);
  PutLE(B, 1, 2);
  PutLE(B, Bpp, 2);
  for (std::uint32_t V : {0u, Row * Height, 2835u, 2835u, Colors, 0u}) PutLE(B, V, 4);
  for (std::uint32_t I = 0; I < Colors; ++I) PutLE(B, (I * 0x010305u) & 0xFFFFFF, 4);
  for (std::uint32_t Y = 0; Y < Height; ++Y)
    for (std::uint32_t X = 0; X < Row; ++X) B.push_back(static_cast<std::uint8_t>((X / 5 + Y / 3 + (X * Y & 7)) & 0xFF));
  return B;
}

double ThreadSeconds() {
  timespec T;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_nsec) * 1e-9;
}

// Wall and CPU time of one call.
template <class F>
std::pair<double, double> Times(F&& Fn) {
  const double C0 = ThreadSeconds();
  const double Wall = TimeOf(Fn);
  return {Wall, ThreadSeconds() - C0};
}

void LoadAgainstPeers(benchmark::State& State, std::uint32_t Bpp) {
  const TBenchFile File(MakeBmp(Bpp), "kest_bmp_peers_" + std::to_string(Bpp) + ".bmp");
  if (!QtRead(File.Path()) || !PixbufRead(File.Path())) {
    State.SkipWithError("a peer cannot read the file");
    return;
  }
  double Ours[2] = {0, 0}, Qt[2] = {0, 0}, Pixbuf[2] = {0, 0};
  auto Add = [](double* Sum, std::pair<double, double> T) {
    Sum[0] += T.first;
    Sum[1] += T.second;
  };
  for (auto _ : State) {
    const auto T = Times([&] {
      TPicture P;
      P.LoadFile(File.Path());
    });
    Add(Ours, T);
    State.SetIterationTime(T.first);
    Add(Qt, Times([&] { benchmark::DoNotOptimize(QtRead(File.Path())); }));
    Add(Pixbuf, Times([&] { benchmark::DoNotOptimize(PixbufRead(File.Path())); }));
  }
  const double N = static_cast<double>(State.iterations());
  State.counters["qt_ms"] = Qt[0] * 1000 / N;
  State.counters["pixbuf_ms"] = Pixbuf[0] * 1000 / N;
  State.counters["qt_ratio"] = Ours[0] / Qt[0];
  State.counters["pixbuf_ratio"] = Ours[0] / Pixbuf[0];
  State.counters["qt_ratio_cpu"] = Ours[1] / Qt[1];
  State.counters["pixbuf_ratio_cpu"] = Ours[1] / Pixbuf[1];
}

void BM_Bmp8BitPaletteAgainstPeers(benchmark::State& S) { LoadAgainstPeers(S, 8); }
void BM_Bmp24BitAgainstPeers(benchmark::State& S) { LoadAgainstPeers(S, 24); }
void BM_Bmp32BitAgainstPeers(benchmark::State& S) { LoadAgainstPeers(S, 32); }
BENCHMARK(BM_Bmp8BitPaletteAgainstPeers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Bmp24BitAgainstPeers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Bmp32BitAgainstPeers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
