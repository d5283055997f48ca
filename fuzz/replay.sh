#!/usr/bin/env bash
# Builds the fuzz targets with clang under the address and undefined-behaviour
# sanitizers and runs every kept corpus file through its target once.
set -euo pipefail
cd "$(dirname "$0")/.."
shopt -s nullglob
targets=(fuzz/*_fuzz.cpp)
[ ${#targets[@]} -eq 0 ] && exit 0
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKEST_FUZZ=ON -DKEST_SANITIZE=ON -DKEST_BUILD_VIEWER=OFF -DKEST_BUILD_TESTS=OFF -DKEST_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for src in "${targets[@]}"; do
  name=$(basename "$src" .cpp)
  corpus=fuzz/corpus/$name
  [ -d "$corpus" ] || continue
  echo "replaying $corpus"
  "build-fuzz/fuzz/$name" -runs=0 "$corpus"
done
