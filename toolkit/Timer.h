// A timer component: fires OnTimer every Interval milliseconds while Enabled.
// In the program the time comes from Qt's event loop; tests install a manual
// clock and advance it by hand, so nothing waits on real time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "toolkit/Classes.h"

class TTimer;

// Where timers get their time from. A scheduler is told when a timer starts
// (with its interval) and when it stops; it calls Fire on the timer when the
// interval has passed, and again every interval until the timer stops.
class TTimerScheduler {
 public:
  virtual ~TTimerScheduler() = default;
  virtual void Start(TTimer& Timer, std::uint32_t Interval) = 0;
  virtual void Stop(TTimer& Timer) = 0;
};

// A clock that moves only when told: Advance fires every due timer in the
// order of their due times (a timer whose interval fits several times fires
// several times).
class TManualTimerScheduler : public TTimerScheduler {
 public:
  void Start(TTimer& Timer, std::uint32_t Interval) override;
  void Stop(TTimer& Timer) override;
  void Advance(std::uint64_t Milliseconds);
  std::uint64_t Now() const { return FNow; }
  // How many timers are running.
  std::size_t Running() const { return FTimers.size(); }

 private:
  struct TEntry {
    TTimer* Timer;
    std::uint32_t Interval;
    std::uint64_t Due;
  };
  std::vector<TEntry> FTimers;
  std::uint64_t FNow = 0;
};

// Makes S the scheduler of timers started from now on; null restores Qt's.
// The caller keeps S alive while timers use it.
void SetTimerScheduler(TTimerScheduler* S);

class TTimer : public TComponent {
  KEST_CLASS(TTimer)
 public:
  explicit TTimer(TComponent* AOwner = nullptr);
  ~TTimer() override;

  // Milliseconds between two OnTimer events; 0 stops the timer. Default 1000.
  std::uint32_t Interval() const { return FInterval; }
  void SetInterval(std::uint32_t Value);
  // Default true.
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  // Running: enabled, a non-zero interval and a handler.
  bool Running() const { return FScheduler != nullptr; }

  TNotifyEvent OnTimer;

  // Called by the scheduler when the interval has passed.
  void Fire();
  // Starts or stops the timer after OnTimer was assigned or cleared.
  void UpdateTimer();

 private:
  std::uint32_t FInterval = 1000;
  bool FEnabled = true;
  TTimerScheduler* FScheduler = nullptr;
};
