#include "picture/decoding/ProgressThrottle.h"

#include <chrono>

namespace {

// Progress notifications come at most this often (milliseconds).
constexpr std::int64_t ProgressInterval = 500;

std::uint64_t SteadyTickCount() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace

TProgressThrottle::TProgressThrottle() : FTickSource(SteadyTickCount) {}

void TProgressThrottle::Start(bool FromFirstCall) {
  FPercent = 0;
  FStarted = !FromFirstCall;
  FTime = FStarted ? FTickSource() : 0;
}

bool TProgressThrottle::Due(int Percent) {
  const std::uint64_t Now = FTickSource();
  if (static_cast<std::int64_t>(Now - FTime) < ProgressInterval) return false;
  const bool WasStarted = FStarted;
  FTime = Now;
  FStarted = true;
  if (!WasStarted || Percent == FPercent) return false;
  FPercent = Percent;
  return true;
}
