#include "picture/metafile/Metafile.h"

#include <cstdlib>
#include <limits>

#include <QPainter>

#include "picture/FileFormats.h"
#include "toolkit/ByteReader.h"
#include "picture/metafile/EmfFile.h"
#include "picture/metafile/EmfPlayer.h"
#include "picture/metafile/WmfConverter.h"
#include "toolkit/Exceptions.h"

KEST_CLASS_IMPL(TMetafile, TGraphic)

bool TMetafile::HasSignature(std::span<const std::uint8_t> Head) {
  return LooksEnhanced(Head) || HeadHas(Head, 0, "\xD7\xCD\xC6\x9A");
}

namespace {

constexpr std::uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr std::size_t PlaceableHeaderSize = 22;

[[noreturn]] void NotValid() { throw EInvalidGraphic("Metafile is not valid"); }

}  // namespace

std::int32_t MulDivRound(std::int64_t A, std::int64_t B, std::int64_t C) {
  if (C == 0) return 0;
  __int128 P = static_cast<__int128>(A) * B;
  const bool Negative = (P < 0) != (C < 0);
  if (P < 0) P = -P;
  const __int128 D = C < 0 ? -static_cast<__int128>(C) : C;
  __int128 Q = (P + D / 2) / D;  // halves away from zero
  if (Negative) Q = -Q;
  if (Q > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (Q < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(Q);
}

TMetafile::TMetafile() = default;
TMetafile::~TMetafile() = default;

void TMetafile::Clear() {
  FSource.clear();
  FConverted.clear();
  FEnhanced = true;
  FMMWidth = FMMHeight = 0;
  FInch = 0;
  FDevicePx[0] = FDevicePx[1] = 0;
  FDeviceMM[0] = FDeviceMM[1] = 0;
  FPalette.reset();
  FPaletteModified = false;
}

std::span<const std::uint8_t> TMetafile::EnhancedBytes() const {
  return FEnhanced ? std::span<const std::uint8_t>(FSource) : std::span<const std::uint8_t>(FConverted);
}

void TMetafile::LoadFromStream(TStream& Stream) {
  const std::vector<std::uint8_t> Bytes = Stream.ReadRest();
  LoadFromBytes(Bytes);
}

void TMetafile::LoadFromBytes(std::span<const std::uint8_t> Bytes) {
  // Loading builds the new state aside, so that a failure keeps the old one.
  TMetafile Loaded;
  if (LooksEnhanced(Bytes))
    Loaded.LoadEnhanced(Bytes);
  else
    Loaded.LoadPlaceable(Bytes);
  Loaded.ReadHeaderValues();
  FSource = std::move(Loaded.FSource);
  FConverted = std::move(Loaded.FConverted);
  FEnhanced = Loaded.FEnhanced;
  FMMWidth = Loaded.FMMWidth;
  FMMHeight = Loaded.FMMHeight;
  FInch = Loaded.FInch;
  std::copy(std::begin(Loaded.FDevicePx), std::end(Loaded.FDevicePx), FDevicePx);
  std::copy(std::begin(Loaded.FDeviceMM), std::end(Loaded.FDeviceMM), FDeviceMM);
  FPalette = std::move(Loaded.FPalette);
  FPaletteModified = FPalette != nullptr;
  Changed(this);
}

void TMetafile::LoadEnhanced(std::span<const std::uint8_t> Bytes) {
  const TEmfHeader H = ReadEmfHeader(Bytes);
  FEnhanced = true;
  FSource.assign(Bytes.begin(), Bytes.begin() + H.Bytes);
  // 64-bit differences, limited to the 32-bit range like every size here. A
  // frame that runs right to left or bottom to top has the size of its
  // normalised rectangle; the player maps the frame onto the drawing rectangle
  // either way round.
  FMMWidth = MulDivRound(std::abs(std::int64_t{H.Frame.Right} - H.Frame.Left), 1, 1);
  FMMHeight = MulDivRound(std::abs(std::int64_t{H.Frame.Bottom} - H.Frame.Top), 1, 1);
}

void TMetafile::LoadPlaceable(std::span<const std::uint8_t> Bytes) {
  if (Bytes.size() < PlaceableHeaderSize) NotValid();
  TByteReader R(Bytes);
  if (R.U32() != PlaceableKey) NotValid();
  R.Seek(0);
  std::uint16_t Sum = 0;
  for (int I = 0; I < 10; ++I) Sum ^= R.U16();
  R.Seek(6);
  TPlaceableHeader P;
  P.Left = R.I16();
  P.Top = R.I16();
  P.Right = R.I16();
  P.Bottom = R.I16();
  P.Inch = R.U16();
  R.Skip(4);
  if (R.U16() != Sum) NotValid();
  FEnhanced = false;
  FInch = P.Inch;
  const std::int64_t Inch = P.Inch ? P.Inch : 96;
  // The converted frame keeps the bounding box's direction, so that an
  // inverted box still plays into the drawing rectangle; the size is that of
  // the normalised box.
  const std::int32_t FrameW = MulDivRound(std::int64_t{P.Right} - P.Left, 2540, Inch);
  const std::int32_t FrameH = MulDivRound(std::int64_t{P.Bottom} - P.Top, 2540, Inch);
  FConverted = ConvertWmfToEmf(Bytes.subspan(PlaceableHeaderSize), P, FrameW, FrameH);
  FMMWidth = std::abs(FrameW);
  FMMHeight = std::abs(FrameH);
  FSource.assign(Bytes.begin(), Bytes.end());
}

void TMetafile::ReadHeaderValues() {
  const std::span<const std::uint8_t> E = EnhancedBytes();
  const TEmfHeader H = ReadEmfHeader(E);
  for (int I = 0; I < 2; ++I) {
    FDevicePx[I] = H.DevicePx[I];
    FDeviceMM[I] = H.DeviceMM[I];
  }
  std::vector<std::uint32_t> Entries = ReadEmfPalette(E.first(H.Bytes));
  if (!Entries.empty()) FPalette = std::make_unique<TPalette>(std::move(Entries));
}

std::int32_t TMetafile::Width() const {
  if (!FEnhanced && FInch != 0) return MulDivRound(FMMWidth, DisplayInfo().PixelsPerInch, 2540);
  // A reference device without a size would divide by zero: it counts as the screen.
  if (FDevicePx[0] <= 0 || FDeviceMM[0] <= 0) return MulDivRound(FMMWidth, 96, 2540);
  return MulDivRound(FMMWidth, FDevicePx[0], std::int64_t{FDeviceMM[0]} * 100);
}

std::int32_t TMetafile::Height() const {
  if (!FEnhanced && FInch != 0) return MulDivRound(FMMHeight, DisplayInfo().PixelsPerInch, 2540);
  if (FDevicePx[1] <= 0 || FDeviceMM[1] <= 0) return MulDivRound(FMMHeight, 96, 2540);
  return MulDivRound(FMMHeight, FDevicePx[1], std::int64_t{FDeviceMM[1]} * 100);
}

void TMetafile::DrawInto(TCanvas& ACanvas, const TRect& R) {
  const std::span<const std::uint8_t> E = EnhancedBytes();
  if (E.empty()) return;
  // The palette would be selected as a background palette here; every surface
  // of this program is deeper than 8 bits, where that changes nothing.
  ACanvas.WithPainter([&](QPainter& P) {
    TEmfPlayer Player(E, P);
    Player.Play(TRect{R.Left, R.Top, R.Right - 1, R.Bottom - 1});
  });
}

bool TMetafile::Equals(const TGraphic* Other) const {
  const auto* M = dynamic_cast<const TMetafile*>(Other);
  return M && M->FSource == FSource;
}

void TMetafile::ReadData(TStream& Stream) {
  const std::uint32_t L = Stream.ReadUInt32LE();
  if (L <= 4) {
    Clear();
    Changed(this);
    return;
  }
  if (static_cast<std::uint64_t>(Stream.Remaining()) < L - 4) TByteReader::Fail();
  const std::vector<std::uint8_t> Bytes = Stream.ReadBytes(L - 4);
  LoadFromBytes(Bytes);
}

void TMetafile::WriteData(TStream& Stream) const {
  // The length field counts itself; a metafile too large for it cannot be stored.
  if (FSource.size() > 0xFFFFFFFFu - 4) throw EWriteError("Stream write error");
  Stream.WriteUInt32LE(static_cast<std::uint32_t>(FSource.size() + 4));
  SaveToStream(Stream);
}

void TMetafile::SaveToStream(TStream& Stream) const {
  if (!FSource.empty()) Stream.WriteBuffer(FSource.data(), FSource.size());
}

void TMetafile::Assign(const TPersistent* Source) {
  const auto* M = dynamic_cast<const TMetafile*>(Source);
  if (!M) {
    TGraphic::Assign(Source);
    return;
  }
  if (M == this) return;
  FSource = M->FSource;
  FConverted = M->FConverted;
  FEnhanced = M->FEnhanced;
  FMMWidth = M->FMMWidth;
  FMMHeight = M->FMMHeight;
  FInch = M->FInch;
  std::copy(std::begin(M->FDevicePx), std::end(M->FDevicePx), FDevicePx);
  std::copy(std::begin(M->FDeviceMM), std::end(M->FDeviceMM), FDeviceMM);
  FPalette = M->FPalette ? std::make_unique<TPalette>(M->FPalette->Entries()) : nullptr;
  FPaletteModified = M->FPaletteModified;
  Changed(this);
}
