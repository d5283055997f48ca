#include "picture/ImageGraphic.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "toolkit/Exceptions.h"
#include "toolkit/Timer.h"

KEST_ABSTRACT_CLASS_IMPL(TImageGraphic, TGraphic)

namespace {

constexpr std::int64_t ProgressInterval = 500;

std::uint64_t SteadyTickCount() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace

// ---------------------------------------------------------------------------
// Loading and stored data

TImageGraphic::TImageGraphic() : FTickSource(SteadyTickCount) {}

TImageGraphic::~TImageGraphic() = default;

void TImageGraphic::LoadFromStream(TStream& Stream) {
  auto Data = std::make_shared<const std::vector<std::uint8_t>>(Stream.ReadRest());
  // The header is read before anything is replaced, so a damaged file leaves
  // the graphic as it was.
  const THeader H = ReadHeader(*Data);
  Hold(std::move(Data), H);
}

void TImageGraphic::Hold(std::shared_ptr<const std::vector<std::uint8_t>> Data, const THeader& H) {
  CheckNotDecoding();
  StopAnimation();
  FData = std::move(Data);
  FHeader = H;
  FBitmap.reset();
  FFrames.reset();
  FFrameIndex = 0;
  FAlpha = H.Alpha;
  Changed(this);
}

void TImageGraphic::SaveToStream(TStream& Stream) const {
  if (FData && !FData->empty()) Stream.WriteBuffer(FData->data(), FData->size());
}

void TImageGraphic::ReadData(TStream& Stream) {
  const std::uint32_t L = Stream.ReadUInt32LE();
  if (static_cast<std::uint64_t>(Stream.Remaining()) < L) throw EReadError("Stream read error");
  if (L == 0) {
    Hold(nullptr, THeader{});
    return;
  }
  const std::vector<std::uint8_t> Bytes = Stream.ReadBytes(L);
  auto S = TMemoryStream::Over(Bytes);
  LoadFromStream(*S);
}

void TImageGraphic::WriteData(TStream& Stream) const {
  const std::size_t L = FData ? FData->size() : 0;
  if (L > 0xFFFFFFFFu) throw EWriteError("Stream write error");
  Stream.WriteUInt32LE(static_cast<std::uint32_t>(L));
  SaveToStream(Stream);
}

void TImageGraphic::Assign(const TPersistent* Source) {
  const auto* G = dynamic_cast<const TImageGraphic*>(Source);
  if (!G || G->ClassType() != ClassType()) {
    TGraphic::Assign(Source);
    return;
  }
  if (G == this) return;
  CheckNotDecoding();
  std::unique_ptr<TBitmap> Copy;
  if (G->FBitmap && !G->FFrames) {
    Copy = std::make_unique<TBitmap>();
    Copy->Assign(G->FBitmap.get());
  }
  StopAnimation();
  FData = G->FData;
  FHeader = G->FHeader;
  FBitmap = std::move(Copy);
  FFrames.reset();
  FFrameIndex = 0;
  FAlpha = FBitmap ? G->FAlpha : FHeader.Alpha;
  FAnimate = G->FAnimate;
  FProgressiveDisplay = G->FProgressiveDisplay;
  FAutoOrientation = G->FAutoOrientation;
  FTransparent = G->FTransparent;
  Changed(this);
}

// ---------------------------------------------------------------------------
// Size and settings

bool TImageGraphic::Empty() const { return !FData && (!FBitmap || FBitmap->Empty()); }
std::int32_t TImageGraphic::Width() const {
  return FAutoOrientation ? OrientedSize(FHeader.Orientation, FHeader.Width, FHeader.Height).X : FHeader.Width;
}
std::int32_t TImageGraphic::Height() const {
  return FAutoOrientation ? OrientedSize(FHeader.Orientation, FHeader.Width, FHeader.Height).Y : FHeader.Height;
}

void TImageGraphic::SetAutoOrientation(bool Value) {
  if (Value == FAutoOrientation) return;
  CheckNotDecoding();
  FAutoOrientation = Value;
  if (FFrames) return;  // animations are shown as stored
  FBitmap.reset();
  FAlpha = FHeader.Alpha;
  Changed(this);
}
bool TImageGraphic::Transparent() const { return FTransparent || FAlpha; }

void TImageGraphic::SetWidth(std::int32_t) { throw EInvalidGraphicOperation(SizeChangeMessage()); }
void TImageGraphic::SetHeight(std::int32_t) { throw EInvalidGraphicOperation(SizeChangeMessage()); }

// The bitmap is written to while a decode runs; a progress handler that
// replaced it would leave the decoder writing into freed memory.
void TImageGraphic::CheckNotDecoding() const {
  if (FDecoding) throw EInvalidGraphicOperation("Cannot change an image while it is being decoded");
}

int TImageGraphic::FrameCount() const { return FFrames ? FFrames->FrameCount() : 1; }

bool TImageGraphic::Animating() const { return FTimer && FTimer->Running(); }

void TImageGraphic::SetAnimate(bool Value) {
  if (Value == FAnimate) return;
  FAnimate = Value;
  if (!FFrames) return;
  if (FAnimate) {
    FLoopsDone = 0;
    StartAnimation();
    return;
  }
  StopAnimation();
  if (FFrameIndex == 0) return;
  // Back to the first frame, shown alone.
  try {
    FCompositor.Start(*FBitmap, FHeader.Width, FHeader.Height);
    ShowFrame(0);
  } catch (const Exception&) {
  }
  FFrameIndex = 0;
  FBitmap->PixelsChanged();
  if (OnFrame) OnFrame(this, TRect{0, 0, FBitmap->Width(), FBitmap->Height()});
}

// ---------------------------------------------------------------------------
// Decoding and drawing

const TBitmap* TImageGraphic::Bitmap() {
  if (!FBitmap && FData) Decode();
  return FBitmap.get();
}

void TImageGraphic::DrawInto(TCanvas& ACanvas, const TRect& R) {
  if (!Bitmap() || FBitmap->Empty()) return;
  // Pixels with alpha are premultiplied; an opaque picture is copied.
  FBitmap->SetAlphaFormat(FAlpha && FBitmap->BitsPerPixel() == 32 ? afPremultiplied : afIgnored);
  FBitmap->SetTransparent(FTransparent);
  FBitmap->DrawInto(ACanvas, R);
}

void TImageGraphic::Decode() {
  // The bitmap is kept from the start: a drawing requested from inside the
  // decode (by a progress handler) draws what is there so far, and a failed
  // decode is not tried again.
  FBitmap = std::make_unique<TBitmap>();
  FProgressTime = FTickSource();
  FProgressPercent = 0;
  FFrameIndex = 0;
  FLoopsDone = 0;
  Progress(this, psStarting, 0, false, TRect{}, "");
  std::exception_ptr Failure;
  FDecoding = true;
  try {
    const std::span<const std::uint8_t> Bytes(*FData);
    FFrames = OpenFrames(Bytes);
    if (FFrames) {
      FCompositor.Start(*FBitmap, FHeader.Width, FHeader.Height);
      ShowFrame(0);
    } else {
      DecodeStill(Bytes, *FBitmap);
    }
  } catch (...) {
    Failure = std::current_exception();
  }
  FDecoding = false;
  if (!FFrames && FAutoOrientation && FHeader.Orientation != orNormal && !FBitmap->Empty()) {
    try {
      ApplyOrientation(*FBitmap, FHeader.Orientation);
    } catch (...) {
      if (!Failure) Failure = std::current_exception();
    }
  }
  FBitmap->PixelsChanged();
  Progress(this, psEnding, Failure ? 0 : 100, false, TRect{}, "");
  if (FFrames && FFrames->FrameCount() > 1) StartAnimation();
  if (!Failure) return;
  try {
    std::rethrow_exception(Failure);
  } catch (const EAbort&) {
    // A progress handler asked to stop: the decode ends without an error.
  }
}

bool TImageGraphic::DecodeProgress(int Percent, const TRect& R, const std::function<void()>& Prepare) {
  const std::uint64_t Now = FTickSource();
  if (static_cast<std::int64_t>(Now - FProgressTime) < ProgressInterval) return false;
  FProgressTime = Now;
  Percent = std::clamp(Percent, 0, 100);
  if (Percent == FProgressPercent) return false;
  FProgressPercent = Percent;
  if (Prepare) Prepare();
  FBitmap->PixelsChanged();
  Progress(this, psRunning, static_cast<std::uint8_t>(Percent), R.Height() >= 4, R, "");
  return true;
}

void TImageGraphic::ClearRowsFrom(TBitmap& Target, std::int32_t Row) {
  if (Target.BitsPerPixel() != 32) Target.SetPixelFormat(pf32bit);
  for (std::int32_t Y = std::max(Row, 0); Y < Target.Height(); ++Y)
    std::memset(Target.ScanLine(Y), 0, static_cast<std::size_t>(Target.Stride()));
  FAlpha = true;
}

// ---------------------------------------------------------------------------
// Animation

TRect TImageGraphic::ShowFrame(int Index) {
  FCompositor.BeginFrame(FFrames->Frame(Index));
  std::exception_ptr Failure;
  try {
    FFrames->Render(Index, FCompositor);
  } catch (...) {
    Failure = std::current_exception();
  }
  const TRect Changed = FCompositor.EndFrame();
  FAlpha = !FCompositor.Opaque();
  if (Failure) std::rethrow_exception(Failure);
  return Changed;
}

void TImageGraphic::StartAnimation() {
  if (!FAnimate || !FFrames || FFrames->FrameCount() < 2) return;
  if (FFrames->LoopCount() > 0 && FLoopsDone >= FFrames->LoopCount()) return;
  if (!FTimer) {
    FTimer = std::make_unique<TTimer>();
    FTimer->OnTimer = [this](TObject*) { NextFrame(); };
  }
  FTimer->SetEnabled(false);
  FTimer->SetInterval(EffectiveFrameDelay(FFrames->Frame(FFrameIndex).Delay));
  FTimer->SetEnabled(true);
}

void TImageGraphic::StopAnimation() {
  if (FTimer) FTimer->SetEnabled(false);
}

// A tick of the animation. Nothing may leave it: an error here would reach
// the user on every tick. A frame that cannot be drawn ends the animation
// with what is shown.
void TImageGraphic::NextFrame() {
  if (!FFrames || !FBitmap) return;
  int Next = FFrameIndex + 1;
  TRect Changed;
  try {
    if (Next >= FFrames->FrameCount()) {
      ++FLoopsDone;
      if (FFrames->LoopCount() > 0 && FLoopsDone >= FFrames->LoopCount()) {
        StopAnimation();
        return;
      }
      Next = 0;
      FCompositor.Start(*FBitmap, FHeader.Width, FHeader.Height);
      Changed = TRect{0, 0, FHeader.Width, FHeader.Height};
      ShowFrame(0);
    } else {
      Changed = ShowFrame(Next);
    }
  } catch (...) {
    StopAnimation();
    Changed = TRect{0, 0, FHeader.Width, FHeader.Height};
    Next = FFrameIndex;
  }
  FFrameIndex = Next;
  if (FTimer && FTimer->Enabled()) FTimer->SetInterval(EffectiveFrameDelay(FFrames->Frame(Next).Delay));
  FBitmap->PixelsChanged();
  if (OnFrame && !Changed.IsEmpty()) OnFrame(this, Changed);
}
