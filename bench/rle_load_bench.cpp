// Loading a 6000 x 4000 run-length encoded 8-bit bitmap (about 22 MB of runs)
// through TPicture::LoadFile, against a plain run-length loop: read the file
// into a new buffer and expand its runs, trusting them, into a zeroed one.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "picture/Dib.h"
#include "picture/Graphic.h"
#include "support/BenchFiles.h"

namespace {

constexpr std::uint32_t Width = 6000;
constexpr std::uint32_t Height = 4000;
constexpr std::uint32_t Colors = 256;
constexpr std::uint32_t HeaderBytes = 14 + 40 + 4 * Colors;

// Each row: absolute runs of 20 pixels and repeated runs of 4, in turn, then
// the end of the line; the end of the bitmap closes the data.
std::vector<std::uint8_t> Runs() {
  std::vector<std::uint8_t> D;
  for (std::uint32_t Y = 0; Y < Height; ++Y) {
    for (std::uint32_t X = 0; X < Width; X += 24) {
      D.push_back(0);
      D.push_back(20);
      for (std::uint32_t I = 0; I < 20; ++I) D.push_back(static_cast<std::uint8_t>(X + I + Y));
      D.push_back(4);
      D.push_back(static_cast<std::uint8_t>(Y));
    }
    D.push_back(0);
    D.push_back(0);
  }
  D.push_back(0);
  D.push_back(1);
  return D;
}

// The bitmap file, written once per run into the temporary folder and removed at exit.
const std::string& BenchPath() {
  static const TBenchFile File = [] {
    const std::vector<std::uint8_t> Data = Runs();
    std::vector<std::uint8_t> Bytes = BmpHeaders(Width, Height, 8, 1, static_cast<std::uint32_t>(Data.size()), Colors,
                                                 [](std::uint32_t I) { return I * 0x010101u; });
    Bytes.insert(Bytes.end(), Data.begin(), Data.end());
    return TBenchFile(Bytes, "kest_rle_load_bench.bmp");
  }();
  return File.Path();
}

void PlainExpand(const std::uint8_t* P, const std::uint8_t* End, std::uint8_t* Pixels);

void ReadAndExpand(const std::string& Path) {
  const auto [File, N] = ReadPlain(Path);
  auto Pixels = std::make_unique<std::uint8_t[]>(std::size_t{Width} * Height);
  PlainExpand(File.get() + HeaderBytes, File.get() + N, Pixels.get());
  benchmark::DoNotOptimize(Pixels.get());
  benchmark::ClobberMemory();
}

void PlainExpand(const std::uint8_t* P, const std::uint8_t* const End, std::uint8_t* Pixels) {
  std::size_t X = 0, Y = Height - 1;
  while (End - P >= 2) {
    const std::uint8_t Count = P[0], V = P[1];
    P += 2;
    if (Count) {
      std::memset(Pixels + Y * Width + X, V, Count);
      X += Count;
    } else if (V == 0) {
      X = 0;
      --Y;
    } else if (V == 1) {
      break;
    } else {
      std::memcpy(Pixels + Y * Width + X, P, V);
      X += V;
      P += (V + 1) & ~1u;
    }
  }
}

void BM_LoadRle8(benchmark::State& State) {
  const std::string& Path = BenchPath();
  TPicture P;
  for (auto _ : State) P.LoadFile(Path);
}
BENCHMARK(BM_LoadRle8)->Unit(benchmark::kMillisecond);

void BM_PlainRunLengthLoop(benchmark::State& State) {
  const std::string& Path = BenchPath();
  for (auto _ : State) ReadAndExpand(Path);
}
BENCHMARK(BM_PlainRunLengthLoop)->Unit(benchmark::kMillisecond);

// This thread's processor time, page faults included: on a busy machine the
// time on the clock mostly measures the waits for a processor.
double ThreadSeconds() {
  timespec T{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_nsec) * 1e-9;
}

// Both in turn, so that the other work on the machine weighs on each alike;
// the counter "ratio" is the load's time over the plain loop's, "cpu_ratio"
// the same for the processor time.
void BM_LoadRle8OverPlainLoop(benchmark::State& State) {
  using Clock = std::chrono::steady_clock;
  const std::string& Path = BenchPath();
  Clock::duration Load{}, Base{};
  double LoadCpu = 0, BaseCpu = 0;
  for (auto _ : State) {
    const double C0 = ThreadSeconds();
    const auto T0 = Clock::now();
    ReadAndExpand(Path);
    const auto T1 = Clock::now();
    const double C1 = ThreadSeconds();
    {
      TPicture P;
      P.LoadFile(Path);
    }
    Load += Clock::now() - T1;
    Base += T1 - T0;
    LoadCpu += ThreadSeconds() - C1;
    BaseCpu += C1 - C0;
  }
  State.counters["ratio"] = static_cast<double>(Load.count()) / static_cast<double>(Base.count());
  State.counters["cpu_ratio"] = LoadCpu / BaseCpu;
}
BENCHMARK(BM_LoadRle8OverPlainLoop)->Unit(benchmark::kMillisecond);

// The expansion alone, from bytes in memory into a zeroed buffer, against
// the plain loop: "ratio" is the expander's time over the loop's.
void BM_ExpandOverPlainExpand(benchmark::State& State) {
  using Clock = std::chrono::steady_clock;
  const std::vector<std::uint8_t> Data = Runs();
  std::vector<std::uint8_t> Pixels(std::size_t{Width} * Height);
  TBmpInfo Info;
  Info.Width = Width;
  Info.Height = Height;
  Info.BitsPerPixel = 8;
  Info.Compression = bcRLE8;
  Clock::duration Ours{}, Plain{};
  for (auto _ : State) {
    std::fill(Pixels.begin(), Pixels.end(), 0);
    const auto T0 = Clock::now();
    PlainExpand(Data.data(), Data.data() + Data.size(), Pixels.data());
    benchmark::ClobberMemory();
    const auto T1 = Clock::now();
    std::fill(Pixels.begin(), Pixels.end(), 0);
    const auto T2 = Clock::now();
    DecodeBmpPixels(Info, Data, Pixels.data(), Width);
    benchmark::ClobberMemory();
    Ours += Clock::now() - T2;
    Plain += T1 - T0;
  }
  State.counters["ratio"] = static_cast<double>(Ours.count()) / static_cast<double>(Plain.count());
}
BENCHMARK(BM_ExpandOverPlainExpand)->Unit(benchmark::kMillisecond);

}  // namespace
