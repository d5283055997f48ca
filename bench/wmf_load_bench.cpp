// Loading a placeable Windows metafile of 200,000 object records (2.8 MB: a
// full object table whose last slot is freed and taken again and again),
// against loading one of the same size whose records create no objects. Both
// run in the same loop; the counter "ratio" is the first's time over the
// second's, about 1 when creating an object costs no more than any record.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "picture/metafile/Metafile.h"

namespace {

constexpr int ObjectRecords = 200000;

void PutLE(std::vector<std::uint8_t>& B, std::uint32_t V, int Bytes) {
  for (int I = 0; I < Bytes; ++I) B.push_back(static_cast<std::uint8_t>(V >> (8 * I)));
}

// A record of 16-bit parameters.
void Record(std::vector<std::uint8_t>& B, std::uint16_t Function, std::initializer_list<std::uint16_t> Words) {
  PutLE(B, static_cast<std::uint32_t>(3 + Words.size()), 4);
  PutLE(B, Function, 2);
  for (std::uint16_t W : Words) PutLE(B, W, 2);
}

std::vector<std::uint8_t> Placeable(bool Objects) {
  std::vector<std::uint8_t> Body;
  const int Slots = 0xFFFF;
  for (int I = 0; I < ObjectRecords; ++I) {
    if (!Objects) {
      Record(Body, 0x0201, {0, 0, 0, 0});  // background colour, as long as a brush record
    } else if (I < Slots) {
      Record(Body, 0x02FC, {0, 0xFF, 0, 0});  // a brush in the next slot
    } else if (I % 2) {
      Record(Body, 0x01F0, {0xFFFE, 0, 0, 0});  // delete the last slot (padded to the same length)
    } else {
      Record(Body, 0x02FC, {0, 0xFF, 0, 0});  // and take it again
    }
  }
  Record(Body, 0, {});
  std::vector<std::uint8_t> B;
  PutLE(B, 0x9AC6CDD7, 4);
  PutLE(B, 0, 2);
  for (std::uint16_t V : {0, 0, 1000, 1000, 1000}) PutLE(B, V, 2);
  PutLE(B, 0, 4);
  std::uint16_t Sum = 0;
  for (std::size_t I = 0; I < 20; I += 2) Sum ^= static_cast<std::uint16_t>(B[I] | (B[I + 1] << 8));
  PutLE(B, Sum, 2);
  for (std::uint16_t V : {1, 9, 0x300}) PutLE(B, V, 2);
  PutLE(B, static_cast<std::uint32_t>(9 + Body.size() / 2), 4);
  PutLE(B, Slots, 2);
  PutLE(B, 7, 4);
  PutLE(B, 0, 2);
  B.insert(B.end(), Body.begin(), Body.end());
  return B;
}

void BM_LoadObjectRecords(benchmark::State& State) {
  const std::vector<std::uint8_t> Bytes = Placeable(true);
  for (auto _ : State) {
    TMetafile M;
    M.LoadFromBytes(Bytes);
  }
}
BENCHMARK(BM_LoadObjectRecords)->Unit(benchmark::kMillisecond);

void BM_LoadObjectsOverOtherRecords(benchmark::State& State) {
  using Clock = std::chrono::steady_clock;
  const std::vector<std::uint8_t> WithObjects = Placeable(true), Without = Placeable(false);
  Clock::duration A{}, B{};
  for (auto _ : State) {
    const auto T0 = Clock::now();
    {
      TMetafile M;
      M.LoadFromBytes(Without);
    }
    const auto T1 = Clock::now();
    {
      TMetafile M;
      M.LoadFromBytes(WithObjects);
    }
    A += Clock::now() - T1;
    B += T1 - T0;
  }
  State.counters["ratio"] = static_cast<double>(A.count()) / static_cast<double>(B.count());
}
BENCHMARK(BM_LoadObjectsOverOtherRecords)->Unit(benchmark::kMillisecond);

}  // namespace
