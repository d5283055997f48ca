#include "picture/PhotoGraphic.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "picture/ColorProfile.h"
#include "picture/Limits.h"
#include "toolkit/ByteReader.h"

KEST_ABSTRACT_CLASS_IMPL(TPhotoGraphic, TGraphic)

namespace {

// Progress notifications come at most this often (milliseconds), as the JPEG graphic's.
constexpr std::int64_t ProgressInterval = 500;

std::uint64_t SteadyTickCount() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace

// ---------------------------------------------------------------------------
// TPhotoGraphic

// Large files are given memory whose pages are all made present in one call:
// filling it page by page would take a fault per page.
TPhotoGraphic::TFileData::TFileData(std::size_t N) : Size(N) {
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

TPhotoGraphic::TFileData::~TFileData() {
  if (Mapped)
    munmap(Memory, Size);
  else
    std::free(Memory);
}

TPhotoGraphic::TPhotoGraphic() : FTickSource(SteadyTickCount) {}
TPhotoGraphic::~TPhotoGraphic() = default;

void TPhotoGraphic::LoadFromStream(TStream& Stream) {
  const std::int64_t Left = Stream.Remaining();
  auto File = std::make_shared<TFileData>(Left > 0 ? static_cast<std::size_t>(Left) : 0);
  Stream.ReadBuffer(File->Memory, File->Size);
  std::shared_ptr<const TFileData> Data = std::move(File);
  const THeader H = ReadHeader(Data->Bytes());  // before anything is replaced
  CheckNotDecoding();
  FData = std::move(Data);
  FHeader = H;
  FBitmap.reset();
  FPaletteModified = true;
  Changed(this);
}

void TPhotoGraphic::SaveToStream(TStream& Stream) const {
  if (FData && FData->Size) Stream.WriteBuffer(FData->Memory, FData->Size);
}

void TPhotoGraphic::ReadData(TStream& Stream) {
  const std::uint32_t L = Stream.ReadUInt32LE();
  if (static_cast<std::uint64_t>(Stream.Remaining()) < L) throw EReadError("Stream read error");
  if (L > 0) {
    const std::vector<std::uint8_t> Bytes = Stream.ReadBytes(L);
    auto S = TMemoryStream::Over(Bytes);
    LoadFromStream(*S);
    return;
  }
  // Length 0 is what an empty graphic writes.
  CheckNotDecoding();
  FData.reset();
  FHeader = THeader{};
  FBitmap.reset();
  Changed(this);
}

void TPhotoGraphic::WriteData(TStream& Stream) const {
  const std::size_t L = FData ? FData->Size : 0;
  if (L > 0xFFFFFFFFu) throw EWriteError("Stream write error");
  Stream.WriteUInt32LE(static_cast<std::uint32_t>(L));
  SaveToStream(Stream);
}

void TPhotoGraphic::Assign(const TPersistent* Source) {
  const auto* P = dynamic_cast<const TPhotoGraphic*>(Source);
  if (!P || P->ClassType() != ClassType()) {
    TGraphic::Assign(Source);
    return;
  }
  if (P == this) return;
  CheckNotDecoding();
  std::unique_ptr<TBitmap> Copy;
  if (P->FBitmap) {
    Copy = std::make_unique<TBitmap>();
    Copy->Assign(P->FBitmap.get());
  }
  FData = P->FData;
  FHeader = P->FHeader;
  FBitmap = std::move(Copy);
  FAutoOrientation = P->FAutoOrientation;
  FTransparent = P->FTransparent;
  FPaletteModified = true;
  Changed(this);
}

bool TPhotoGraphic::Empty() const { return !FData && (!FBitmap || FBitmap->Empty()); }

std::int32_t TPhotoGraphic::Width() const {
  if (FBitmap) return FBitmap->Width();
  return Turned() ? FHeader.Height : FHeader.Width;
}

std::int32_t TPhotoGraphic::Height() const {
  if (FBitmap) return FBitmap->Height();
  return Turned() ? FHeader.Width : FHeader.Height;
}

HPALETTE TPhotoGraphic::Palette() const { return FBitmap ? FBitmap->Palette() : nullptr; }

void TPhotoGraphic::SetWidth(std::int32_t) {
  throw EInvalidGraphicOperation(std::string("Cannot change the size of a ") + FormatName() + " image");
}
void TPhotoGraphic::SetHeight(std::int32_t V) { SetWidth(V); }

void TPhotoGraphic::SetAutoOrientation(bool Value) {
  if (Value == FAutoOrientation) return;
  CheckNotDecoding();
  FAutoOrientation = Value;
  FBitmap.reset();
  Changed(this);
}

// The bitmap is written while a decode runs; a progress handler that replaced
// it would leave the decode writing into freed memory.
void TPhotoGraphic::CheckNotDecoding() const {
  if (FDecoding) throw EInvalidGraphicOperation("Cannot change a picture while it is being decoded");
}

const TBitmap* TPhotoGraphic::Bitmap() {
  if (!FBitmap && FData) Decode();
  return FBitmap.get();
}

void TPhotoGraphic::DrawInto(TCanvas& ACanvas, const TRect& R) {
  if (!Bitmap()) return;
  FBitmap->SetTransparent(FTransparent);
  FBitmap->DrawInto(ACanvas, R);
}

void TPhotoGraphic::Decode() {
  // Kept from the start: a drawing from inside the decode (a progress
  // handler's) shows what is there so far, and a failed decode is not tried again.
  FBitmap = std::make_unique<TBitmap>();
  TPhotoSink Sink(*this, *FBitmap, FAutoOrientation ? FHeader.Orientation : orNormal, FHeader.Width,
                  FHeader.Height);
  Progress(this, psStarting, 0, false, TRect{}, "");
  std::exception_ptr Failure;
  FDecoding = true;
  try {
    DecodePixels(FData->Bytes(), Sink);
  } catch (...) {
    Failure = std::current_exception();
  }
  FDecoding = false;
  try {
    Sink.Finish(!Failure);
  } catch (const std::exception&) {
    // The missing rows stay as they are rather than transparent.
  }
  FBitmap->PixelsChanged();
  const bool NewPalette = !FBitmap->ColorTable().empty();
  if (NewPalette) FPaletteModified = true;
  Progress(this, psEnding, Failure ? 0 : 100, NewPalette, TRect{}, "");
  if (NewPalette) Changed(this);
  if (!Failure) return;
  try {
    std::rethrow_exception(Failure);
  } catch (const EAbort&) {
    // A progress handler asked to stop: the decode ends without an error.
  }
}

// ---------------------------------------------------------------------------
// TPhotoSink

TPhotoSink::TPhotoSink(TPhotoGraphic& Owner, TBitmap& Target, TOrientation O, std::int32_t HeaderWidth,
                       std::int32_t HeaderHeight)
    : FOwner(Owner), FTarget(Target), FOrientation(O), FHeaderWidth(HeaderWidth), FHeaderHeight(HeaderHeight) {}

TPhotoSink::~TPhotoSink() = default;

void TPhotoSink::SetProfile(std::span<const std::uint8_t> Icc) { FIcc.assign(Icc.begin(), Icc.end()); }

int TPhotoSink::RowBytesPerPixel() const {
  switch (FRows) {
    case rkGray8: return 1;
    case rkBGR8: return 3;
    default: return 4;
  }
}

void TPhotoSink::Start(std::int32_t W, std::int32_t H, TRows Rows) {
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

std::uint8_t* TPhotoSink::DirectRow(std::int32_t Y) {
  if (!FStarted || Y < 0 || Y >= FHeight || FOrientation != orNormal) return nullptr;
  return FTarget.ScanLine(Y);
}

void TPhotoSink::Placed(std::int32_t Y) {
  if (!FTransform || Y < 0 || Y >= FHeight || FOrientation != orNormal) return;
  std::uint8_t* Row = FTarget.ScanLine(Y);
  FTransform->Convert(Row, Row, static_cast<std::size_t>(FWidth));
}

void TPhotoSink::Put(std::int32_t Y, std::uint8_t* Pixels) {
  if (!FStarted || Y < 0 || Y >= FHeight) return;
  if (FTransform) FTransform->Convert(Pixels, Pixels, static_cast<std::size_t>(FWidth));
  FWriter->Put(Y, Pixels);
}

// At most one notification per interval, and only when the whole percentage
// has changed; the first call only starts the clock. R is the displayed area
// of the rows put since the previous notification.
void TPhotoSink::RowsDone(std::int32_t Rows) {
  FDone = std::clamp(Rows, FDone, FHeight);
  if (!FOwner.OnProgress) return;  // nobody to tell, nobody to see the rows
  const std::uint64_t Now = FOwner.FTickSource();
  if (static_cast<std::int64_t>(Now - FTime) < ProgressInterval) return;
  const bool Running = FTime != 0;
  FTime = Now;
  if (!Running || FHeight <= 0) return;
  const int Percent = static_cast<int>(std::int64_t{100} * FDone / FHeight);
  if (Percent == FPercent) return;
  FPercent = Percent;
  const TRect R = OrientedRows(FOrientation, FWidth, FHeight, FReportedRow, FDone);
  const bool Redraw = FDone - FReportedRow >= 4;
  FReportedRow = FDone;
  ClearUnwritten();
  FTarget.PixelsChanged();
  FOwner.Progress(&FOwner, psRunning, static_cast<std::uint8_t>(Percent), Redraw, R, "");
}

// Rows of an upright decode that were not written yet hold whatever the
// memory held: they are made transparent black before anyone can see them.
void TPhotoSink::ClearUnwritten() {
  if (FCleared) return;
  FCleared = true;
  for (std::int32_t Y = FDone; Y < FTarget.Height(); ++Y)
    std::memset(FTarget.ScanLine(Y), 0, static_cast<std::size_t>(FTarget.Stride()));
}

void TPhotoSink::Finish(bool Complete) {
  if (Complete) return;
  if (!FStarted) {
    // Nothing decoded: the picture keeps its size and shows the background.
    FIcc.clear();
    Start(FHeaderWidth, FHeaderHeight, rkBGRA8);
    ClearUnwritten();
    return;
  }
  ClearUnwritten();
  if (FDone >= FHeight) return;
  // Pixels the file did not give become transparent: the background shows there.
  if (FTarget.BitsPerPixel() != 32) FTarget.SetPixelFormat(pf32bit);
  if (FTarget.AlphaFormat() == afIgnored) FTarget.SetAlphaFormat(afDefined);
  const TRect R = OrientedRows(FOrientation, FWidth, FHeight, FDone, FHeight);
  for (std::int32_t Y = std::max(R.Top, 0); Y < std::min(R.Bottom, FTarget.Height()); ++Y)
    std::memset(FTarget.ScanLine(Y) + static_cast<std::ptrdiff_t>(R.Left) * 4, 0,
                static_cast<std::size_t>(R.Right - R.Left) * 4);
}
