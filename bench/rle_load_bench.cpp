// Loading a 6000 x 4000 run-length encoded 8-bit bitmap (about 22 MB of runs)
// through TPicture::LoadFile, against a plain run-length loop: read the file
// into a new buffer and expand its runs, trusting them, into a zeroed one.
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
constexpr std::uint32_t Colors = 256;
constexpr std::uint32_t HeaderBytes = 14 + 40 + 4 * Colors;

void PutLE(std::vector<std::uint8_t>& B, std::uint32_t V, int Bytes) {
  for (int I = 0; I < Bytes; ++I) B.push_back(static_cast<std::uint8_t>(V >> (8 * I)));
}

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
class TBenchFile {
 public:
  TBenchFile() : FPath((std::filesystem::temp_directory_path() / "kest_rle_load_bench.bmp").string()) {
    const std::vector<std::uint8_t> Data = Runs();
    const auto Size = static_cast<std::uint32_t>(Data.size());
    std::vector<std::uint8_t> Header;
    PutLE(Header, 0x4D42, 2);
    PutLE(Header, HeaderBytes + Size, 4);
    PutLE(Header, 0, 4);
    PutLE(Header, HeaderBytes, 4);
    for (std::uint32_t V : {40u, Width, Height}) PutLE(Header, V, 4);
    PutLE(Header, 1, 2);
    PutLE(Header, 8, 2);
    for (std::uint32_t V : {1u, Size, 2835u, 2835u, Colors, 0u}) PutLE(Header, V, 4);
    for (std::uint32_t I = 0; I < Colors; ++I) PutLE(Header, I * 0x010101u, 4);
    std::FILE* F = std::fopen(FPath.c_str(), "wb");
    if (!F) throw std::runtime_error("cannot write " + FPath);
    std::fwrite(Header.data(), 1, Header.size(), F);
    std::fwrite(Data.data(), 1, Data.size(), F);
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

void ReadAndExpand(const std::string& Path) {
  std::FILE* F = std::fopen(Path.c_str(), "rb");
  std::fseek(F, 0, SEEK_END);
  const auto Size = static_cast<std::size_t>(std::ftell(F));
  std::fseek(F, 0, SEEK_SET);
  auto File = std::make_unique_for_overwrite<std::uint8_t[]>(Size);
  const std::size_t N = std::fread(File.get(), 1, Size, F);
  std::fclose(F);
  auto Pixels = std::make_unique<std::uint8_t[]>(std::size_t{Width} * Height);
  const std::uint8_t* P = File.get() + HeaderBytes;
  const std::uint8_t* const End = File.get() + N;
  std::size_t X = 0, Y = Height - 1;
  while (End - P >= 2) {
    const std::uint8_t Count = P[0], V = P[1];
    P += 2;
    if (Count) {
      std::memset(&Pixels[Y * Width + X], V, Count);
      X += Count;
    } else if (V == 0) {
      X = 0;
      --Y;
    } else if (V == 1) {
      break;
    } else {
      std::memcpy(&Pixels[Y * Width + X], P, V);
      X += V;
      P += (V + 1) & ~1u;
    }
  }
  benchmark::DoNotOptimize(Pixels.get());
  benchmark::ClobberMemory();
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

// Both in turn, so that the other work on the machine weighs on each alike;
// the counter "ratio" is the load's time over the plain loop's.
void BM_LoadRle8OverPlainLoop(benchmark::State& State) {
  using Clock = std::chrono::steady_clock;
  const std::string& Path = BenchPath();
  Clock::duration Load{}, Base{};
  for (auto _ : State) {
    const auto T0 = Clock::now();
    ReadAndExpand(Path);
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
BENCHMARK(BM_LoadRle8OverPlainLoop)->Unit(benchmark::kMillisecond);

}  // namespace
