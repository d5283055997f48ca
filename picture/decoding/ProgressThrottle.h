// The throttle of the progress notifications that decoders raise.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

// Throttles the progress notifications of a decode: at most one per 500 ms,
// and only when the whole percentage changed. The milliseconds come from a
// tick source, a steady clock unless replaced (tests replace it).
class TProgressThrottle {
 public:
  using TTickSource = std::function<std::uint64_t()>;
  TProgressThrottle();
  void SetTickSource(TTickSource Source) { FTickSource = std::move(Source); }
  const TTickSource& TickSource() const { return FTickSource; }
  // A decode starts: the interval counts from now, or, with FromFirstCall,
  // from the first Due (which then lets nothing through).
  void Start(bool FromFirstCall = false);
  // Whether a notification of Percent may go out now; it then counts as sent.
  bool Due(int Percent);

 private:
  TTickSource FTickSource;
  std::uint64_t FTime = 0;
  bool FStarted = false;
  int FPercent = 0;
};
