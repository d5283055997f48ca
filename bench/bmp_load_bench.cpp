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

namespace {

constexpr std::uint32_t Width = 6000;
constexpr std::uint32_t Height = 4000;
constexpr std::uint32_t HeaderBytes = 14 + 40;

void PutLE(std::vector<std::uint8_t>& B, std::uint32_t V, int Bytes) {
  for (int I = 0; I < Bytes; ++I) B.push_back(static_cast<std::uint8_t>(V >> (8 * I)));
}

// The bitmap file, written once per run into the temporary folder and removed at exit.
class TBenchFile {
 public:
  TBenchFile() : FPath((std::filesystem::temp_directory_path() / "kest_bmp_load_bench.bmp").string()) {
    const std::uint32_t Row = Width * 3;  // a multiple of 4: no row padding
    const std::uint32_t Pixels = Row * Height;
    std::vector<std::uint8_t> Header;
    PutLE(Header, 0x4D42, 2);
    PutLE(Header, HeaderBytes + Pixels, 4);
    PutLE(Header, 0, 4);
    PutLE(Header, HeaderBytes, 4);
    for (std::uint32_t V : {40u, Width, Height}) PutLE(Header, V, 4);
    PutLE(Header, 1, 2);
    PutLE(Header, 24, 2);
    for (std::uint32_t V : {0u, Pixels, 2835u, 2835u, 0u, 0u}) PutLE(Header, V, 4);
    std::vector<std::uint8_t> Line(Row);
    std::FILE* F = std::fopen(FPath.c_str(), "wb");
    if (!F) throw std::runtime_error("cannot write " + FPath);
    std::fwrite(Header.data(), 1, Header.size(), F);
    for (std::uint32_t Y = 0; Y < Height; ++Y) {
      for (std::uint32_t X = 0; X < Row; ++X) Line[X] = static_cast<std::uint8_t>(X * 7 + Y * 3);
      std::fwrite(Line.data(), 1, Line.size(), F);
    }
    std::fclose(F);
  }
  ~TBenchFile() { std::filesystem::remove(FPath); }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

const std::string& BenchPath() {
  static const TBenchFile File;
  return File.Path();
}

void ReadAndCopy(const std::string& Path) {
  std::FILE* F = std::fopen(Path.c_str(), "rb");
  std::fseek(F, 0, SEEK_END);
  const auto Size = static_cast<std::size_t>(std::ftell(F));
  std::fseek(F, 0, SEEK_SET);
  auto File = std::make_unique_for_overwrite<std::uint8_t[]>(Size);
  const std::size_t N = std::fread(File.get(), 1, Size, F);
  std::fclose(F);
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
