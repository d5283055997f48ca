#!/usr/bin/env bash
# Builds the test programs that decode on worker threads with the thread
# sanitizer (clang) and runs their background-decoding suites.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKEST_TSAN=ON -DKEST_BUILD_VIEWER=OFF -DKEST_BUILD_TESTS=ON -DKEST_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan --target background_tests
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"
build-tsan/tests/background_tests
