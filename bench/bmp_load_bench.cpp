// Loading a 6000 x 4000 24-bit bitmap file through TPicture::LoadFile, against
// the least any load has to do: read the file into a newly allocated buffer
// and copy its pixel bytes into another newly allocated buffer.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "picture/Graphic.h"
#include "support/BenchFiles.h"

namespace {

constexpr std::uint32_t Width = 6000;
constexpr std::uint32_t Height = 4000;
constexpr std::uint32_t HeaderBytes = 14 + 40;

// The bitmap file, written once per run into the temporary folder and removed at exit.
const std::string& BenchPath() {
  static const TBenchFile File = [] {
    const std::uint32_t Row = Width * 3;  // a multiple of 4: no row padding
    std::vector<std::uint8_t> Bytes = BmpHeaders(Width, Height, 24, 0, Row * Height, 0, [](std::uint32_t) { return 0u; });
    Bytes.reserve(Bytes.size() + std::size_t{Row} * Height);
    for (std::uint32_t Y = 0; Y < Height; ++Y)
      for (std::uint32_t X = 0; X < Row; ++X) Bytes.push_back(static_cast<std::uint8_t>(X * 7 + Y * 3));
    return TBenchFile(Bytes, "kest_bmp_load_bench.bmp");
  }();
  return File.Path();
}

void ReadAndCopy(const std::string& Path) {
  const auto [File, N] = ReadPlain(Path);
  auto Pixels = std::make_unique_for_overwrite<std::uint8_t[]>(N - HeaderBytes);
  std::memcpy(Pixels.get(), File.get() + HeaderBytes, N - HeaderBytes);
  benchmark::DoNotOptimize(Pixels.get());
  benchmark::ClobberMemory();
}

void BM_LoadFile(benchmark::State& State) {
  const std::string& Path = BenchPath();
  TPicture P;
  for (auto _ : State) P.LoadFile(Path);
  State.SetBytesProcessed(State.iterations() * std::int64_t{Width * 3 * Height});
}
BENCHMARK(BM_LoadFile)->Unit(benchmark::kMillisecond);

void BM_ReadAndCopy(benchmark::State& State) {
  const std::string& Path = BenchPath();
  for (auto _ : State) ReadAndCopy(Path);
  State.SetBytesProcessed(State.iterations() * std::int64_t{Width * 3 * Height});
}
BENCHMARK(BM_ReadAndCopy)->Unit(benchmark::kMillisecond);

// Both in turn, so that the other work on the machine weighs on each alike;
// the counter "ratio" is the load's time over the read and copy's.
void BM_LoadFileOverReadAndCopy(benchmark::State& State) {
  using Clock = std::chrono::steady_clock;
  const std::string& Path = BenchPath();
  Clock::duration Load{}, Base{};
  for (auto _ : State) {
    const auto T0 = Clock::now();
    ReadAndCopy(Path);
    const auto T1 = Clock::now();
    {
      TPicture P;
      P.LoadFile(Path);
    }
    Load += Clock::now() - T1;
    Base += T1 - T0;
  }
  State.counters["ratio"] = static_cast<double>(Load.count()) / static_cast<double>(Base.count());
}
BENCHMARK(BM_LoadFileOverReadAndCopy)->Unit(benchmark::kMillisecond);

}  // namespace
