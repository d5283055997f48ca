#include "picture/BackgroundDecode.h"

#include <utility>

#include "toolkit/MainThread.h"

TBackgroundDecode::TBackgroundDecode(TGraphic& Owner, std::unique_ptr<TGraphic> Copy)
    : FOwner(Owner), FCopy(std::move(Copy)), FShared(std::make_shared<TShared>()) {
  FShared->Job = this;
  FCopy->OnChange = nullptr;
  FCopy->OnProgress = [this](TObject*, TProgressStage Stage, std::uint8_t Percent, bool RedrawNow, const TRect& R,
                             const std::string&) {
    if (FShared->Cancel.load(std::memory_order_relaxed)) throw EDecodeCancelled();
    Post(Stage, Percent, RedrawNow, R);
  };
  FThread = std::thread([this] { Work(); });
}

TBackgroundDecode::~TBackgroundDecode() {
  FShared->Closed = true;
  FShared->Cancel.store(true, std::memory_order_relaxed);
  if (FThread.joinable()) FThread.join();
}

void TBackgroundDecode::Work() {
  std::exception_ptr Failure;
  try {
    FCopy->DecodeForBackground(FShared->Cancel);
  } catch (...) {
    Failure = std::current_exception();
  }
  {
    const std::lock_guard<std::mutex> Lock(FShared->Mutex);
    FShared->Done = true;
    FShared->Failure = Failure;
  }
  WakeUp();
}

// The last notification waits until the decoded picture has been handed over.
void TBackgroundDecode::Post(TProgressStage Stage, std::uint8_t Percent, bool RedrawNow, const TRect& R) {
  {
    const std::lock_guard<std::mutex> Lock(FShared->Mutex);
    if (Stage == psEnding) {
      FShared->Ending = TNote{Stage, Percent, RedrawNow, R};
      return;
    }
    FShared->Notes.push_back(TNote{Stage, Percent, RedrawNow, R});
  }
  WakeUp();
}

void TBackgroundDecode::WakeUp() {
  QueueMainThreadCall([S = FShared] { Deliver(S); });
}

void TBackgroundDecode::Deliver(const std::shared_ptr<TShared>& S) {
  for (;;) {
    if (S->Closed) return;
    std::optional<TNote> N;
    bool Done = false;
    {
      const std::lock_guard<std::mutex> Lock(S->Mutex);
      if (!S->Notes.empty()) {
        N = S->Notes.front();
        S->Notes.pop_front();
      } else {
        Done = S->Done;
      }
    }
    if (N) {
      TGraphic& G = S->Job->FOwner;
      G.Progress(&G, N->Stage, N->Percent, N->RedrawNow, N->R, "");
      continue;
    }
    if (!Done) return;
    // The owner forgets the decode; its failure goes to the application's
    // exception handler, once, as a failure of a first drawing does.
    if (std::exception_ptr Failure = S->Job->FOwner.EndBackgroundDecode()) std::rethrow_exception(Failure);
    return;
  }
}

bool TBackgroundDecode::WaitAndDeliver() {
  if (FThread.joinable()) FThread.join();
  const std::shared_ptr<TShared> S = FShared;
  TGraphic& Owner = FOwner;
  for (;;) {
    if (S->Closed) return false;
    std::optional<TNote> N;
    {
      const std::lock_guard<std::mutex> Lock(S->Mutex);
      if (S->Notes.empty()) return true;
      N = S->Notes.front();
      S->Notes.pop_front();
    }
    Owner.Progress(&Owner, N->Stage, N->Percent, N->RedrawNow, N->R, "");
  }
}

std::exception_ptr TBackgroundDecode::Complete() {
  if (FThread.joinable()) FThread.join();
  FShared->Closed = true;
  FOwner.TakeDecoded(*FCopy);
  std::optional<TNote> Ending;
  std::exception_ptr Failure;
  {
    const std::lock_guard<std::mutex> Lock(FShared->Mutex);
    Ending = FShared->Ending;
    Failure = FShared->Failure;
  }
  if (Ending) FOwner.Progress(&FOwner, Ending->Stage, Ending->Percent, Ending->RedrawNow, Ending->R, "");
  return Failure;
}
