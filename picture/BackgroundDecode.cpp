#include "picture/BackgroundDecode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
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
    if (Stage == psRunning && RedrawNow)
      if (const TBitmap* B = FCopy->PartialPicture()) Publish(*B, R);
    FShared->Notes.push_back(TNote{Stage, Percent, RedrawNow, R});
  }
  WakeUp();
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

void TBackgroundDecode::Publish(const TBitmap& B, const TRect& R) {
  TRows& Rows = FShared->Rows;
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
