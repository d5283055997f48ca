#include "toolkit/Timer.h"

#include <algorithm>
#include <map>

#include <QTimer>

KEST_CLASS_IMPL(TTimer, TComponent)

namespace {

// Qt's event loop as the clock: one QTimer per running timer.
class TQtTimerScheduler : public TTimerScheduler {
 public:
  void Start(TTimer& Timer, std::uint32_t Interval) override {
    auto& Q = FTimers[&Timer];
    if (!Q) {
      Q = std::make_unique<QTimer>();
      QObject::connect(Q.get(), &QTimer::timeout, [T = &Timer] { T->Fire(); });
    }
    Q->start(static_cast<int>(std::min<std::uint32_t>(Interval, 0x7FFFFFFF)));
  }
  // The QTimer may be emitting right now (a handler stops its own timer): it
  // is deleted once control is back in the event loop.
  void Stop(TTimer& Timer) override {
    const auto It = FTimers.find(&Timer);
    if (It == FTimers.end()) return;
    It->second->stop();
    It->second.release()->deleteLater();
    FTimers.erase(It);
  }

 private:
  std::map<TTimer*, std::unique_ptr<QTimer>> FTimers;
};

TTimerScheduler*& CurrentScheduler() {
  static TQtTimerScheduler Qt;
  static TTimerScheduler* Current = &Qt;
  return Current;
}

}  // namespace

void SetTimerScheduler(TTimerScheduler* S) {
  static TTimerScheduler* const Qt = CurrentScheduler();
  CurrentScheduler() = S ? S : Qt;
}

// ---------------------------------------------------------------------------
// Manual clock

void TManualTimerScheduler::Start(TTimer& Timer, std::uint32_t Interval) {
  Stop(Timer);
  FTimers.push_back({&Timer, Interval, FNow + Interval});
}

void TManualTimerScheduler::Stop(TTimer& Timer) {
  std::erase_if(FTimers, [&Timer](const TEntry& E) { return E.Timer == &Timer; });
}

void TManualTimerScheduler::Advance(std::uint64_t Milliseconds) {
  const std::uint64_t End = FNow + Milliseconds;
  for (;;) {
    // The earliest due timer; a handler may start, stop or restart timers.
    auto Next = std::min_element(FTimers.begin(), FTimers.end(),
                                 [](const TEntry& A, const TEntry& B) { return A.Due < B.Due; });
    if (Next == FTimers.end() || Next->Due > End) break;
    FNow = Next->Due;
    TTimer* T = Next->Timer;
    Next->Due += std::max<std::uint32_t>(Next->Interval, 1);
    T->Fire();
  }
  FNow = End;
}

// ---------------------------------------------------------------------------
// TTimer

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {}

TTimer::~TTimer() {
  if (FScheduler) FScheduler->Stop(*this);
}

void TTimer::SetInterval(std::uint32_t Value) {
  if (Value == FInterval) return;
  FInterval = Value;
  UpdateTimer();
}

void TTimer::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  UpdateTimer();
}

// Every change restarts the interval from now, as a classic timer does.
void TTimer::UpdateTimer() {
  if (FScheduler) FScheduler->Stop(*this);
  FScheduler = nullptr;
  if (!FEnabled || FInterval == 0 || !OnTimer) return;
  FScheduler = CurrentScheduler();
  FScheduler->Start(*this, FInterval);
}

void TTimer::Fire() {
  if (FScheduler && OnTimer) OnTimer(this);
}
