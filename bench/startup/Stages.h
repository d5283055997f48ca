// Time stamps of the stages of a whole-process benchmark: with KEST_STAGES
// set, each call writes its stage and the milliseconds since the object was
// made to standard error; without it, nothing.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>

class TStages {
 public:
  void operator()(const char* What) const {
    if (FOn)
      std::fprintf(stderr, "%s %.2f ms\n", What,
                   std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - FStart).count());
  }

 private:
  bool FOn = std::getenv("KEST_STAGES") != nullptr;
  std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};
