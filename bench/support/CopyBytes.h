// The comparison most benchmarks here are measured against: a plain memory
// copy of the same number of bytes.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

inline void CopyBytes(benchmark::State& State, std::size_t Bytes) {
  std::vector<std::uint8_t> A(Bytes, 1), B(Bytes, 2);
  for (auto _ : State) {
    std::memcpy(B.data(), A.data(), Bytes);
    benchmark::DoNotOptimize(B.data());
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * Bytes));
}
