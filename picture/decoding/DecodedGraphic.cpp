#include "picture/decoding/DecodedGraphic.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "picture/decoding/BackgroundDecode.h"
#include "picture/decoding/ColorProfile.h"
#include "picture/decoding/FrameAhead.h"
#include "picture/Limits.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Timer.h"

KEST_ABSTRACT_CLASS_IMPL(TDecodedGraphic, TGraphic)

namespace {

// How often a frame composed ahead that was not ready when due is looked for.
constexpr std::uint32_t LateFramePoll = 10;

// An animation too large to play (see MaxAnimationPixels): its first frame.
class TFirstFrameOnly : public TFrameSource {
 public:
  explicit TFirstFrameOnly(std::shared_ptr<TFrameSource> Frames) : FFrames(std::move(Frames)) {}
  int FrameCount() const override { return 1; }
  int LoopCount() const override { return 1; }
  TFrameInfo Frame(int) const override { return FFrames->Frame(0); }
  void Render(int, TFrameCompositor& C) override { FFrames->Render(0, C); }

 private:
  std::shared_ptr<TFrameSource> FFrames;
};

}  // namespace

// ---------------------------------------------------------------------------
// The file's bytes

// Read straight into memory that is not cleared first (a photograph's file is
// large). Large files are given memory whose pages are all made present in
// one call: filling it page by page would take a fault per page.
struct TDecodedFile {
  explicit TDecodedFile(std::size_t N) : Size(N) {
    constexpr std::size_t Large = std::size_t{1} << 20;
    if (N >= Large) {
      void* P = mmap(nullptr, N, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
      if (P != MAP_FAILED) {
        Memory = static_cast<std::uint8_t*>(P);
        Mapped = true;
        return;
      }
    }
    Memory = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(N, 1)));
    if (!Memory) throw std::bad_alloc();
  }
  ~TDecodedFile() {
    if (Mapped)
      munmap(Memory, Size);
    else
      std::free(Memory);
  }
  TDecodedFile(const TDecodedFile&) = delete;
  TDecodedFile& operator=(const TDecodedFile&) = delete;
  std::span<const std::uint8_t> Bytes() const { return {Memory, Size}; }

  std::uint8_t* Memory = nullptr;
  std::size_t Size = 0;
  bool Mapped = false;
};

// ---------------------------------------------------------------------------
// Loading and stored data

TDecodedGraphic::TDecodedGraphic() = default;

TDecodedGraphic::~TDecodedGraphic() {
  // The worker decodes its own copy; it is stopped before this graphic goes.
  CancelBackgroundDecode();
}

void TDecodedGraphic::LoadFromStream(TStream& Stream) {
  const std::int64_t Left = Stream.Remaining();
  auto File = std::make_shared<TDecodedFile>(Left > 0 ? static_cast<std::size_t>(Left) : 0);
  Stream.ReadBuffer(File->Memory, File->Size);
  std::shared_ptr<const TDecodedFile> Data = std::move(File);
  // The header is read before anything is replaced, so a damaged file leaves
  // the graphic as it was.
  const THeader H = ReadHeader(Data->Bytes());
  Hold(std::move(Data), H);
}

void TDecodedGraphic::Hold(std::shared_ptr<const TDecodedFile> Data, const THeader& H) {
  CheckNotDecoding();
  CancelBackgroundDecode();
  StopAnimation();
  FData = std::move(Data);
  FHeader = H;
  FBitmap.reset();
  FFrames.reset();
  FCanvas.reset();
  FFrameIndex = 0;
  FAlpha = H.Alpha;
  FPaletteModified = true;
  Changed(this);
}

void TDecodedGraphic::SaveToStream(TStream& Stream) const {
  if (FData && FData->Size) Stream.WriteBuffer(FData->Memory, FData->Size);
}

void TDecodedGraphic::ReadData(TStream& Stream) {
  const std::uint32_t L = Stream.ReadUInt32LE();
  if (static_cast<std::uint64_t>(Stream.Remaining()) < L) throw EReadError("Stream read error");
  if (L == 0) {
    // Length 0 is what an empty graphic writes.
    Hold(nullptr, THeader{});
    return;
  }
  const std::vector<std::uint8_t> Bytes = Stream.ReadBytes(L);
  auto S = TMemoryStream::Over(Bytes);
  LoadFromStream(*S);
}

void TDecodedGraphic::WriteData(TStream& Stream) const {
  const std::size_t L = FData ? FData->Size : 0;
  if (L > 0xFFFFFFFFu) throw EWriteError("Stream write error");
  Stream.WriteUInt32LE(static_cast<std::uint32_t>(L));
  SaveToStream(Stream);
}

void TDecodedGraphic::Assign(const TPersistent* Source) {
  const auto* G = dynamic_cast<const TDecodedGraphic*>(Source);
  if (!G || G->ClassType() != ClassType()) {
    TGraphic::Assign(Source);
    return;
  }
  if (G == this) return;
  CheckNotDecoding();
  CancelBackgroundDecode();
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
  FCanvas.reset();
  FFrameIndex = 0;
  FAlpha = FBitmap ? G->FAlpha : FHeader.Alpha;
  FAnimate = G->FAnimate;
  FProgressiveDisplay = G->FProgressiveDisplay;
  FAutoOrientation = G->FAutoOrientation;
  FTransparent = G->FTransparent;
  FPaletteModified = true;
  Changed(this);
}

// ---------------------------------------------------------------------------
// Size and settings

bool TDecodedGraphic::Empty() const { return !FData && (!FBitmap || FBitmap->Empty()); }

std::int32_t TDecodedGraphic::Width() const {
  if (FBitmap && !FBitmap->Empty()) return FBitmap->Width();
  return OrientedSize(DecodeOrientation(), FHeader.Width, FHeader.Height).X;
}

std::int32_t TDecodedGraphic::Height() const {
  if (FBitmap && !FBitmap->Empty()) return FBitmap->Height();
  return OrientedSize(DecodeOrientation(), FHeader.Width, FHeader.Height).Y;
}

HPALETTE TDecodedGraphic::Palette() const { return FBitmap ? FBitmap->Palette() : nullptr; }

bool TDecodedGraphic::Transparent() const { return FTransparent || FAlpha; }

void TDecodedGraphic::SetWidth(std::int32_t) {
  throw EInvalidGraphicOperation(std::string("Cannot change the size of a ") + FormatName() + " image");
}
void TDecodedGraphic::SetHeight(std::int32_t V) { SetWidth(V); }

void TDecodedGraphic::SetAutoOrientation(bool Value) {
  if (Value == FAutoOrientation) return;
  CheckNotDecoding();
  FAutoOrientation = Value;
  CancelBackgroundDecode();
  StopAnimation();
  FBitmap.reset();
  FFrames.reset();
  FCanvas.reset();
  FFrameIndex = 0;
  FAlpha = FHeader.Alpha;
  Changed(this);
}

// The bitmap is written while a decode runs; a progress handler that replaced
// it would leave the decode writing into freed memory.
void TDecodedGraphic::CheckNotDecoding() const {
  if (FDecoding) throw EInvalidGraphicOperation("Cannot change a picture while it is being decoded");
}

int TDecodedGraphic::FrameCount() const { return FFrames ? FFrames->FrameCount() : 1; }

bool TDecodedGraphic::Animating() const { return FTimer && FTimer->Running(); }

void TDecodedGraphic::SetAnimate(bool Value) {
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
    StartFrames();
    ShowFrame(0);
  } catch (const Exception&) {
  }
  FFrameIndex = 0;
  FBitmap->PixelsChanged();
  if (OnFrame) OnFrame(this, TRect{0, 0, FBitmap->Width(), FBitmap->Height()});
}

// ---------------------------------------------------------------------------
// Decoding and drawing

const TBitmap* TDecodedGraphic::Bitmap() {
  FinishBackgroundDecode();
  if (!FBitmap && FData) Decode();
  return FBitmap.get();
}

void TDecodedGraphic::DrawInto(TCanvas& ACanvas, const TRect& R) {
  if (!Bitmap() || FBitmap->Empty()) return;
  MarkAlphaFormat();
  FBitmap->SetTransparent(FTransparent);
  FBitmap->DrawInto(ACanvas, R);
}

// Decoders that write premultiplied pixels or opaque ones say only whether
// there is alpha; a decode that gives straight alpha marks the bitmap itself.
void TDecodedGraphic::MarkAlphaFormat() {
  if (FBitmap->AlphaFormat() != afDefined)
    FBitmap->SetAlphaFormat(FAlpha && FBitmap->BitsPerPixel() == 32 ? afPremultiplied : afIgnored);
}

std::unique_ptr<TFrameSource> TDecodedGraphic::OpenFrames(std::span<const std::uint8_t>) { return nullptr; }

void TDecodedGraphic::DecodePixels(std::span<const std::uint8_t>, TDecodeSink&) {
  throw EInvalidGraphicOperation(std::string("Cannot decode a ") + FormatName() + " image");
}

void TDecodedGraphic::DecodeStill(std::span<const std::uint8_t> Bytes, TBitmap& Target) {
  TDecodeSink Sink(*this, Target, DecodeOrientation(), FHeader.Width, FHeader.Height);
  FTurnedInDecode = true;
  std::exception_ptr Failure;
  try {
    DecodePixels(Bytes, Sink);
  } catch (...) {
    Failure = std::current_exception();
  }
  // A cancelled decode's bitmap is thrown away: nothing is filled in for it.
  if (!Cancelled()) {
    try {
      Sink.Finish(!Failure);
    } catch (const std::exception&) {
      // The missing rows stay as they are rather than transparent.
    }
  }
  if (Failure) std::rethrow_exception(Failure);
}

void TDecodedGraphic::Decode() {
  // The bitmap is kept from the start: a drawing requested from inside the
  // decode (by a progress handler) draws what is there so far, and a failed
  // decode is not tried again.
  FBitmap = std::make_unique<TBitmap>();
  FFrameIndex = 0;
  FLoopsDone = 0;
  FTurnedInDecode = false;
  FThrottle.Start();
  Progress(this, psStarting, 0, false, TRect{}, "");
  std::exception_ptr Failure;
  FDecoding = true;
  try {
    const std::span<const std::uint8_t> Bytes = FData->Bytes();
    FFrames = OpenFrames(Bytes);
    if (FFrames) {
      const std::uint64_t Pixels = std::uint64_t(FHeader.Width) * std::uint64_t(FHeader.Height);
      if (FFrames->FrameCount() > 1 && Pixels > MaxAnimationPixels)
        FFrames = std::make_shared<TFirstFrameOnly>(std::move(FFrames));
      StartFrames();
      ShowFrame(0);
      // A single frame is drawn once: what served composing it goes.
      if (FFrames->FrameCount() < 2) {
        FCanvas.reset();
        FCompositor = TFrameCompositor{};
      }
    } else {
      DecodeStill(Bytes, *FBitmap);
    }
  } catch (...) {
    Failure = std::current_exception();
  }
  FDecoding = false;
  if (Cancelled()) {
    if (Failure) std::rethrow_exception(Failure);
    return;
  }
  const TOrientation O = DecodeOrientation();
  if (!FFrames && !FTurnedInDecode && O != orNormal && !FBitmap->Empty()) {
    try {
      ApplyOrientation(*FBitmap, O);
    } catch (...) {
      if (!Failure) Failure = std::current_exception();
    }
  }
  FBitmap->PixelsChanged();
  const bool NewPalette = !FBitmap->ColorTable().empty();
  if (NewPalette) FPaletteModified = true;
  Progress(this, psEnding, Failure ? 0 : 100, NewPalette, TRect{}, "");
  if (NewPalette) Changed(this);
  // A worker's copy only decodes: the graphic that takes its frames plays them.
  if (!FCancel && FFrames && FFrames->FrameCount() > 1) StartAnimation();
  if (!Failure) return;
  try {
    std::rethrow_exception(Failure);
  } catch (const EAbort&) {
    // A progress handler asked to stop: the decode ends without an error.
  }
}

bool TDecodedGraphic::DecodeProgress(int Percent, const TRect& R, const std::function<void()>& Prepare) {
  return DecodeProgress(Percent, R, R.Height() >= 4, Prepare);
}

bool TDecodedGraphic::DecodeProgress(int Percent, const TRect& R, bool RedrawNow,
                                     const std::function<void()>& Prepare) {
  if (Cancelled()) throw EDecodeCancelled();
  if (!OnProgress) return false;  // nobody to tell, nobody to see the rows
  Percent = std::clamp(Percent, 0, 100);
  if (!FThrottle.Due(Percent)) return false;
  if (Prepare) Prepare();
  FBitmap->PixelsChanged();
  Progress(this, psRunning, static_cast<std::uint8_t>(Percent), RedrawNow, R, "");
  return true;
}

void TDecodedGraphic::CheckCancelled() const {
  if (Cancelled()) throw EDecodeCancelled();
}

void TDecodedGraphic::ClearRowsFrom(TBitmap& Target, std::int32_t Row) {
  if (Target.BitsPerPixel() != 32) Target.SetPixelFormat(pf32bit);
  for (std::int32_t Y = std::max(Row, 0); Y < Target.Height(); ++Y)
    std::memset(Target.ScanLine(Y), 0, static_cast<std::size_t>(Target.Stride()));
  FAlpha = true;
}

// ---------------------------------------------------------------------------
// Decoding on a worker thread

std::unique_ptr<TGraphic> TDecodedGraphic::CopyForBackground() const {
  std::unique_ptr<TGraphic> Copy = TGraphic::CopyForBackground();
  static_cast<TDecodedGraphic&>(*Copy).SetTickSource(FThrottle.TickSource());
  return Copy;
}

void TDecodedGraphic::DecodeForBackground(const std::atomic<bool>& Cancel) {
  FCancel = &Cancel;
  Bitmap();
}

const TBitmap* TDecodedGraphic::PartialPicture() {
  if (!FProgressiveDisplay || !FBitmap || FBitmap->Empty()) return nullptr;
  MarkAlphaFormat();
  return FBitmap.get();
}

void TDecodedGraphic::TakeDecoded(TGraphic& Worker) {
  auto& W = static_cast<TDecodedGraphic&>(Worker);
  FBitmap = std::move(W.FBitmap);
  FFrames = std::move(W.FFrames);
  FCanvas = std::move(W.FCanvas);
  // The compositor draws on the bitmap taken over, which stays where it was.
  FCompositor = std::move(W.FCompositor);
  FAlpha = W.FAlpha;
  FFrameIndex = W.FFrameIndex;
  FLoopsDone = 0;
  FAhead.reset();
  if (W.FPaletteModified) FPaletteModified = true;
  if (FBitmap) FBitmap->PixelsChanged();
  if (FFrames && FFrames->FrameCount() > 1) StartAnimation();
}

// ---------------------------------------------------------------------------
// Animation

void TDecodedGraphic::StartFrames() {
  if (DecodeOrientation() != orNormal && !FCanvas) FCanvas = std::make_unique<TBitmap>();
  FCompositor.Start(FrameCanvas(), FHeader.Width, FHeader.Height);
}

bool TDecodedGraphic::PlaysAhead() const {
  return std::uint64_t(FHeader.Width) * std::uint64_t(FHeader.Height) > MaxTimerStepPixels;
}

TRect TDecodedGraphic::ShowFrame(int Index) {
  FCompositor.BeginFrame(FFrames->Frame(Index));
  std::exception_ptr Failure;
  try {
    const std::lock_guard<std::mutex> Lock(FFrames->Rendering);
    FFrames->Render(Index, FCompositor);
  } catch (...) {
    Failure = std::current_exception();
  }
  TRect Changed = FCompositor.EndFrame();
  FAlpha = !FCompositor.Opaque();
  if (FCanvas) {
    // The picture shown is the canvas turned; the changed area turns with it.
    FBitmap->Assign(FCanvas.get());
    ApplyOrientation(*FBitmap, FHeader.Orientation);
    Changed = OrientedArea(FHeader.Orientation, FHeader.Width, FHeader.Height, Changed);
  }
  if (Failure) std::rethrow_exception(Failure);
  return Changed;
}

void TDecodedGraphic::StartAnimation() {
  if (!FAnimate || !FFrames || FFrames->FrameCount() < 2) return;
  if (FFrames->LoopCount() > 0 && FLoopsDone >= FFrames->LoopCount()) return;
  if (!FTimer) {
    FTimer = std::make_unique<TTimer>();
    FTimer->OnTimer = [this](TObject*) { NextFrame(); };
  }
  FAhead.reset();
  if (PlaysAhead()) {
    try {
      FAhead = std::make_unique<TFrameAhead>(FData, FFrames, FHeader.Width, FHeader.Height, DecodeOrientation(),
                                             FFrameIndex);
      // The worker composes from now on, on a canvas of its own.
      FCanvas.reset();
      FCompositor = TFrameCompositor{};
    } catch (const std::exception&) {
      // No thread to be had: the frames are composed here when due.
    }
  }
  FTimer->SetEnabled(false);
  FTimer->SetInterval(EffectiveFrameDelay(FFrames->Frame(FFrameIndex).Delay));
  FTimer->SetEnabled(true);
}

void TDecodedGraphic::StopAnimation() {
  if (FTimer) FTimer->SetEnabled(false);
  FAhead.reset();
}

// A tick of the animation. Nothing may leave it: an error here would reach
// the user on every tick. A frame that cannot be drawn ends the animation
// with what is shown.
void TDecodedGraphic::NextFrame() {
  if (!FFrames || !FBitmap) return;
  int Next = FFrameIndex + 1;
  TRect Changed;
  if (FAhead) {
    if (!TakeAhead(Next, Changed)) return;
  } else {
    try {
      if (Next >= FFrames->FrameCount()) {
        ++FLoopsDone;
        if (FFrames->LoopCount() > 0 && FLoopsDone >= FFrames->LoopCount()) {
          StopAnimation();
          return;
        }
        Next = 0;
        StartFrames();
        ShowFrame(0);
        Changed = TRect{0, 0, FBitmap->Width(), FBitmap->Height()};
      } else {
        Changed = ShowFrame(Next);
      }
    } catch (...) {
      StopAnimation();
      Changed = TRect{0, 0, FBitmap->Width(), FBitmap->Height()};
      Next = FFrameIndex;
    }
  }
  FFrameIndex = Next;
  if (FTimer && FTimer->Enabled()) FTimer->SetInterval(EffectiveFrameDelay(FFrames->Frame(Next).Delay));
  FBitmap->PixelsChanged();
  if (OnFrame && !Changed.IsEmpty()) OnFrame(this, Changed);
}

// The step of an animation composed ahead swaps the worker's frame in. A
// frame not ready when due is shown late: the timer looks for it again soon,
// and its own time counts from when it shows.
bool TDecodedGraphic::TakeAhead(int& Next, TRect& Changed) {
  const bool Wraps = Next >= FFrames->FrameCount();
  if (Wraps && FFrames->LoopCount() > 0 && FLoopsDone + 1 >= FFrames->LoopCount()) {
    ++FLoopsDone;
    StopAnimation();
    return false;
  }
  TFrameAhead::TFrame F;
  if (!FAhead->Take(FBitmap, F)) {
    FTimer->SetInterval(LateFramePoll);
    return false;
  }
  if (F.Index >= 0) FAlpha = !F.Opaque;
  if (F.Failed) {
    StopAnimation();
    Changed = TRect{0, 0, FBitmap->Width(), FBitmap->Height()};
    Next = FFrameIndex;
    return true;
  }
  if (Wraps) ++FLoopsDone;
  Next = F.Index;
  Changed = F.Changed;
  return true;
}

// ---------------------------------------------------------------------------
// TDecodeSink

TDecodeSink::TDecodeSink(TDecodedGraphic& Owner, TBitmap& Target, TOrientation O, std::int32_t HeaderWidth,
                         std::int32_t HeaderHeight)
    : FOwner(Owner), FTarget(Target), FOrientation(O), FHeaderWidth(HeaderWidth), FHeaderHeight(HeaderHeight) {}

TDecodeSink::~TDecodeSink() = default;

void TDecodeSink::SetProfile(std::span<const std::uint8_t> Icc) { FIcc.assign(Icc.begin(), Icc.end()); }

int TDecodeSink::RowBytesPerPixel() const {
  switch (FRows) {
    case rkGray8: return 1;
    case rkBGR8: return 3;
    default: return 4;
  }
}

void TDecodeSink::Start(std::int32_t W, std::int32_t H, TRows Rows) {
  if (W <= 0 || H <= 0 || static_cast<std::uint64_t>(W) * static_cast<std::uint64_t>(H) > MaxPicturePixels)
    throw EInvalidGraphic("Picture size is not valid");
  FRows = Rows;
  FWidth = W;
  FHeight = H;
  const TPoint S = OrientedSize(FOrientation, W, H);
  // Upright rows arrive in order: the rows not yet written are cleared only
  // when someone may look at them (ClearUnwritten). Turned rows land anywhere.
  FCleared = FOrientation != orNormal;
  FTarget.AllocateImage(S.X, S.Y, RowBytesPerPixel() * 8, FCleared);
  FTarget.SetAlphaFormat(Rows == rkBGRA8 ? afDefined : Rows == rkBGRA8Premultiplied ? afPremultiplied : afIgnored);
  FOwner.SetDecodedAlpha(Rows == rkBGRA8 || Rows == rkBGRA8Premultiplied);
  TProfilePixels Pixels = Rows == rkGray8 ? ppGray8 : Rows == rkBGR8 ? ppBGR8 : ppBGRA8;
  FTransform = FIcc.empty() ? nullptr : TColorTransform::ToSrgb(FIcc, Pixels);
  if (Rows == rkGray8) {
    std::vector<std::uint32_t> Grays(256);
    for (std::uint32_t G = 0; G < 256; ++G) Grays[G] = (FGrayInverted ? 255 - G : G) * 0x010101u;
    if (FTransform) FTransform->ConvertTable(Grays);
    FTarget.SetColorTable(std::move(Grays));
    FTransform.reset();  // the table is converted, the rows need not be
  }
  FWriter = std::make_unique<TOrientedRowWriter>(FTarget, FOrientation, W, H);
  FStarted = true;
}

std::uint8_t* TDecodeSink::DirectRow(std::int32_t Y) {
  if (!FStarted || Y < 0 || Y >= FHeight || FOrientation != orNormal) return nullptr;
  return FTarget.ScanLine(Y);
}

void TDecodeSink::Placed(std::int32_t Y) {
  if (!FTransform || Y < 0 || Y >= FHeight || FOrientation != orNormal) return;
  std::uint8_t* Row = FTarget.ScanLine(Y);
  FTransform->Convert(Row, Row, static_cast<std::size_t>(FWidth));
}

void TDecodeSink::Put(std::int32_t Y, std::uint8_t* Pixels) {
  if (!FStarted || Y < 0 || Y >= FHeight) return;
  if (FTransform) FTransform->Convert(Pixels, Pixels, static_cast<std::size_t>(FWidth));
  FWriter->Put(Y, Pixels);
}

// R is the displayed area of the rows put since the previous notification.
void TDecodeSink::RowsDone(std::int32_t Rows) {
  FDone = std::clamp(Rows, FDone, FHeight);
  if (FHeight <= 0) return;
  const int Percent = static_cast<int>(std::int64_t{100} * FDone / FHeight);
  const TRect R = OrientedRows(FOrientation, FWidth, FHeight, FReportedRow, FDone);
  if (FOwner.DecodeProgress(Percent, R, FDone - FReportedRow >= 4, [this] { ClearUnwritten(); }))
    FReportedRow = FDone;
}

// Rows of an upright decode that were not written yet hold whatever the
// memory held: they are made transparent black before anyone can see them.
void TDecodeSink::ClearUnwritten() {
  if (FCleared) return;
  FCleared = true;
  for (std::int32_t Y = FDone; Y < FTarget.Height(); ++Y)
    std::memset(FTarget.ScanLine(Y), 0, static_cast<std::size_t>(FTarget.Stride()));
}

void TDecodeSink::Finish(bool Complete) {
  if (Complete) return;
  FOwner.SetDecodedAlpha(true);
  if (!FStarted) {
    // Nothing decoded: the picture keeps its size and shows the background.
    FIcc.clear();
    Start(FHeaderWidth, FHeaderHeight, rkBGRA8);
    ClearUnwritten();
    return;
  }
  if (FDone >= FHeight) {
    FOwner.SetDecodedAlpha(FRows == rkBGRA8 || FRows == rkBGRA8Premultiplied);
    return;
  }
  // Pixels the file did not give become transparent: the background shows
  // there. The bitmap becomes 32-bit first (holding little more than the new
  // image meanwhile), then the rows are cleared, once.
  if (FTarget.BitsPerPixel() != 32) {
    try {
      FTarget.SetPixelFormat(pf32bit);
    } catch (...) {
      ClearUnwritten();  // black, rather than what the memory held
      throw;
    }
  }
  FCleared = true;
  if (FTarget.AlphaFormat() == afIgnored) FTarget.SetAlphaFormat(afDefined);
  const TRect R = OrientedRows(FOrientation, FWidth, FHeight, FDone, FHeight);
  for (std::int32_t Y = std::max(R.Top, 0); Y < std::min(R.Bottom, FTarget.Height()); ++Y)
    std::memset(FTarget.ScanLine(Y) + static_cast<std::ptrdiff_t>(R.Left) * 4, 0,
                static_cast<std::size_t>(R.Right - R.Left) * 4);
}
