#include "picture/decoding/BackgroundDecode.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <system_error>
#include <utility>
#include <vector>

#include "picture/Limits.h"
#include "picture/decoding/FrameAhead.h"
#include "toolkit/MainThread.h"

namespace {

// How long abandoning a decode waits for its worker to stop before setting it
// aside: a worker stops within one progress step, which is much shorter for
// the decoders that report progress as they go.
constexpr auto StopWait = std::chrono::milliseconds(20);

// Workers set aside by abandoned decodes, with what they decode, and the
// decodes waiting for a worker; used on the user-interface thread only. The
// last reference to each set-aside decode's state is the one here, so its
// copy is freed on the thread that joins the worker.
struct TWorkers {
  struct TAbandoned {
    std::thread Thread;
    std::shared_ptr<void> Shared;
    std::function<bool()> Ended;
  };
  std::vector<TAbandoned> Abandoned;
  // Workers started and neither joined nor set aside.
  int Running = 0;
  std::deque<TBackgroundDecode*> Waiting;

  // At the latest when the program ends.
  ~TWorkers() {
    for (TAbandoned& A : Abandoned)
      if (A.Thread.joinable()) A.Thread.join();
  }
  int Count() const { return Running + static_cast<int>(Abandoned.size()); }
  void Forget(TBackgroundDecode* Job) { Waiting.erase(std::remove(Waiting.begin(), Waiting.end(), Job), Waiting.end()); }
};

TWorkers& Workers() {
  static TWorkers List;
  return List;
}

}  // namespace

TBackgroundDecode::TBackgroundDecode(TGraphic& Owner, std::unique_ptr<TGraphic> Copy)
    : FOwner(Owner), FShared(std::make_shared<TShared>()) {
  TShared& S = *FShared;
  S.Job = this;
  S.Copy = std::move(Copy);
  S.Copy->OnChange = nullptr;
  // The copy belongs to S: its handler holds S by address, not by a count.
  S.Copy->OnProgress = [&S](TObject*, TProgressStage Stage, std::uint8_t Percent, bool RedrawNow, const TRect& R,
                            const std::string&) {
    if (S.Cancel.load(std::memory_order_relaxed)) throw EDecodeCancelled();
    Post(S, Stage, Percent, RedrawNow, R);
  };
  Workers().Waiting.push_back(this);
  ReapAbandoned(false);
}

bool TBackgroundDecode::Launch() {
  try {
    FThread = std::thread([Shared = FShared] { Work(Shared); });
  } catch (const std::system_error&) {
    return false;  // no thread to be had now: the decode waits on
  }
  FLaunched = true;
  ++Workers().Running;
  return true;
}

TBackgroundDecode::~TBackgroundDecode() {
  FShared->Closed = true;
  FShared->Cancel.store(true, std::memory_order_relaxed);
  TWorkers& W = Workers();
  if (!FLaunched) {
    W.Forget(this);
    return;
  }
  if (FThread.joinable()) {
    bool Ended;
    {
      std::unique_lock<std::mutex> Lock(FShared->Mutex);
      Ended = FShared->Ended.wait_for(Lock, StopWait, [this] { return FShared->Done; });
    }
    if (Ended) {
      FThread.join();
    } else {
      const std::shared_ptr<TShared> S = FShared;
      W.Abandoned.push_back(TWorkers::TAbandoned{std::move(FThread), S, [S] {
                                                   const std::lock_guard<std::mutex> Lock(S->Mutex);
                                                   return S->Done;
                                                 }});
    }
  }
  --W.Running;
  ReapAbandoned(false);
}

void TBackgroundDecode::ReapAbandoned(bool Wait) {
  TWorkers& W = Workers();
  for (auto I = W.Abandoned.begin(); I != W.Abandoned.end();) {
    if (Wait || I->Ended()) {
      I->Thread.join();
      I = W.Abandoned.erase(I);
    } else {
      ++I;
    }
  }
  while (!W.Waiting.empty() && W.Count() < MaxDecodeWorkers && W.Waiting.front()->Launch()) W.Waiting.pop_front();
}

void FinishAbandonedDecodes() {
  TBackgroundDecode::ReapAbandoned(true);
  FinishFrameAheadWorkers();
}

void TBackgroundDecode::Work(const std::shared_ptr<TShared>& S) {
  std::exception_ptr Failure;
  try {
    S->Copy->DecodeForBackground(S->Cancel);
  } catch (...) {
    Failure = std::current_exception();
  }
  {
    const std::lock_guard<std::mutex> Lock(S->Mutex);
    S->Done = true;
    S->Failure = Failure;
  }
  S->Ended.notify_all();
  WakeUp(S);
}

// The last notification waits until the decoded picture has been handed over.
void TBackgroundDecode::Post(TShared& S, TProgressStage Stage, std::uint8_t Percent, bool RedrawNow,
                             const TRect& R) {
  {
    const std::lock_guard<std::mutex> Lock(S.Mutex);
    if (Stage == psEnding) {
      S.Ending = TNote{Stage, Percent, RedrawNow, R};
      return;
    }
    if (Stage == psRunning && RedrawNow)
      if (const TBitmap* B = S.Copy->PartialPicture()) Publish(S, *B, R);
    S.Notes.push_back(TNote{Stage, Percent, RedrawNow, R});
  }
  WakeUp(S.shared_from_this());
}

namespace {

void CopyRows(const TBitmap& From, TBitmap& To, std::int32_t Top, std::int32_t Bottom) {
  const auto Bytes = static_cast<std::size_t>(std::abs(From.Stride()));
  for (std::int32_t Y = Top; Y < Bottom; ++Y) std::memcpy(To.ScanLine(Y), From.ScanLine(Y), Bytes);
  if (To.ColorTable() != From.ColorTable()) To.SetColorTable(From.ColorTable());
  To.SetAlphaFormat(From.AlphaFormat());
  To.PixelsChanged();
}

bool SameShape(const TBitmap& A, const TBitmap& B) {
  return A.Width() == B.Width() && A.Height() == B.Height() && A.BitsPerPixel() == B.BitsPerPixel() &&
         A.Stride() == B.Stride();
}

}  // namespace

void TBackgroundDecode::Publish(TShared& S, const TBitmap& B, const TRect& R) {
  TRows& Rows = S.Rows;
  const std::int32_t H = B.Height();
  if (!Rows.Bitmap || !SameShape(*Rows.Bitmap, B)) {
    Rows.Bitmap = std::make_unique<TBitmap>();
    Rows.Bitmap->Assign(&B);
    Rows.Top = 0;
    Rows.Bottom = H;
  } else {
    std::int32_t Top = std::clamp(R.Top, 0, H), Bottom = std::clamp(R.Bottom, 0, H);
    if (Top != Rows.Next || R.Left > 0 || R.Right < B.Width()) Top = 0, Bottom = H;
    CopyRows(B, *Rows.Bitmap, Top, Bottom);
    if (Rows.Top >= Rows.Bottom) Rows.Top = Top, Rows.Bottom = Bottom;
    Rows.Top = std::min(Rows.Top, Top);
    Rows.Bottom = std::max(Rows.Bottom, Bottom);
  }
  Rows.Next = std::clamp(R.Bottom, 0, H);
}

void TBackgroundDecode::Raise(const std::shared_ptr<TShared>& S, const TNote& N) {
  TBackgroundDecode& Job = *S->Job;
  if (N.RedrawNow) {
    const std::lock_guard<std::mutex> Lock(S->Mutex);
    TRows& Rows = S->Rows;
    if (Rows.Bitmap && Rows.Top < Rows.Bottom) {
      if (!Job.FPreview || !SameShape(*Job.FPreview, *Rows.Bitmap)) {
        Job.FPreview = std::make_unique<TBitmap>();
        Job.FPreview->Assign(Rows.Bitmap.get());
      } else {
        CopyRows(*Rows.Bitmap, *Job.FPreview, Rows.Top, Rows.Bottom);
      }
      Rows.Top = Rows.Bottom = 0;
    }
  }
  TGraphic& G = Job.FOwner;
  G.Progress(&G, N.Stage, N.Percent, N.RedrawNow, N.R, "");
}

void TBackgroundDecode::WakeUp(const std::shared_ptr<TShared>& S) {
  QueueMainThreadCall([S] { Deliver(S); });
}

void TBackgroundDecode::Deliver(const std::shared_ptr<TShared>& S) {
  for (;;) {
    if (S->Closed) {
      // A set-aside worker may have ended: its place goes to a waiting decode.
      ReapAbandoned(false);
      return;
    }
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
      Raise(S, *N);
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
  if (!FLaunched) {
    // Waiting for a worker: the caller waits for the picture anyway.
    Workers().Forget(this);
    FLaunched = true;
    ++Workers().Running;
    Work(FShared);
  }
  if (FThread.joinable()) FThread.join();
  const std::shared_ptr<TShared> S = FShared;
  for (;;) {
    if (S->Closed) return false;
    std::optional<TNote> N;
    {
      const std::lock_guard<std::mutex> Lock(S->Mutex);
      if (S->Notes.empty()) return true;
      N = S->Notes.front();
      S->Notes.pop_front();
    }
    Raise(S, *N);
  }
}

std::exception_ptr TBackgroundDecode::Complete() {
  if (FThread.joinable()) FThread.join();
  FShared->Closed = true;
  FOwner.TakeDecoded(*FShared->Copy);
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
