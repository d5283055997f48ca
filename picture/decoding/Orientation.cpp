#include "picture/decoding/Orientation.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "toolkit/ByteReader.h"

namespace {

constexpr std::uint16_t OrientationTag = 0x0112;
constexpr std::uint16_t TypeShort = 3;
constexpr std::uint16_t TypeLong = 4;

// A TIFF structure's numbers in the byte order its header names.
class TTiffReader {
 public:
  TTiffReader(std::span<const std::uint8_t> Bytes, bool BigEndian) : FReader(Bytes), FBig(BigEndian) {}
  std::uint16_t U16() { return FBig ? FReader.U16BE() : FReader.U16(); }
  std::uint32_t U32() { return FBig ? FReader.U32BE() : FReader.U32(); }
  void Seek(std::size_t Pos) { FReader.Seek(Pos); }
  void Skip(std::size_t N) { FReader.Skip(N); }

 private:
  TByteReader FReader;
  bool FBig;
};

TOrientation FindOrientation(std::span<const std::uint8_t> Tiff) {
  if (Tiff.size() < 8) return orNormal;
  bool Big;
  if (Tiff[0] == 'I' && Tiff[1] == 'I')
    Big = false;
  else if (Tiff[0] == 'M' && Tiff[1] == 'M')
    Big = true;
  else
    return orNormal;
  TTiffReader R(Tiff, Big);
  R.Skip(2);
  if (R.U16() != 42) return orNormal;
  R.Seek(R.U32());
  const std::uint16_t Count = R.U16();
  for (std::uint16_t I = 0; I < Count; ++I) {
    const std::uint16_t Tag = R.U16();
    const std::uint16_t Type = R.U16();
    const std::uint32_t N = R.U32();
    if (Tag != OrientationTag) {
      R.Skip(4);
      continue;
    }
    // The value sits in the entry's own four bytes, left-aligned.
    if (N < 1) return orNormal;
    if (Type == TypeShort) return OrientationFromValue(R.U16());
    if (Type == TypeLong) return OrientationFromValue(R.U32());
    return orNormal;
  }
  return orNormal;
}

void CopyPixel(std::uint8_t* Dst, const std::uint8_t* Src, int Bytes) {
  switch (Bytes) {
    case 1: *Dst = *Src; break;
    case 3:
      Dst[0] = Src[0];
      Dst[1] = Src[1];
      Dst[2] = Src[2];
      break;
    default: std::memcpy(Dst, Src, 4);
  }
}

void ReverseInto(std::uint8_t* Dst, const std::uint8_t* Src, std::int32_t Width, int Bpp) {
  for (std::int32_t X = 0; X < Width; ++X) CopyPixel(Dst + static_cast<std::ptrdiff_t>(Width - 1 - X) * Bpp, Src + static_cast<std::ptrdiff_t>(X) * Bpp, Bpp);
}

}  // namespace

TOrientation OrientationFromValue(std::uint32_t Value) {
  return Value >= 1 && Value <= 8 ? static_cast<TOrientation>(Value) : orNormal;
}

TOrientation ReadExifOrientation(std::span<const std::uint8_t> Exif) {
  static constexpr std::uint8_t Prefix[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (Exif.size() >= 6 && std::equal(Prefix, Prefix + 6, Exif.begin())) Exif = Exif.subspan(6);
  try {
    return FindOrientation(Exif);
  } catch (const EReadError&) {
    return orNormal;  // a damaged block tells nothing about the picture
  }
}

TPoint OrientedPoint(TOrientation O, std::int32_t W, std::int32_t H, std::int32_t X, std::int32_t Y) {
  switch (O) {
    case orMirrorHorizontal: return {W - 1 - X, Y};
    case orRotate180: return {W - 1 - X, H - 1 - Y};
    case orMirrorVertical: return {X, H - 1 - Y};
    case orTranspose: return {Y, X};
    case orRotate90: return {H - 1 - Y, X};
    case orTransverse: return {H - 1 - Y, W - 1 - X};
    case orRotate270: return {Y, W - 1 - X};
    default: return {X, Y};
  }
}

TRect OrientedRows(TOrientation O, std::int32_t W, std::int32_t H, std::int32_t Top, std::int32_t Bottom) {
  switch (O) {
    case orRotate180:
    case orMirrorVertical: return {0, H - Bottom, W, H - Top};
    case orTranspose:
    case orRotate270: return {Top, 0, Bottom, W};
    case orRotate90:
    case orTransverse: return {H - Bottom, 0, H - Top, W};
    default: return {0, Top, W, Bottom};
  }
}

TRect OrientedArea(TOrientation O, std::int32_t W, std::int32_t H, const TRect& R) {
  if (R.IsEmpty()) return R;
  const TPoint A = OrientedPoint(O, W, H, R.Left, R.Top);
  const TPoint B = OrientedPoint(O, W, H, R.Right - 1, R.Bottom - 1);
  return TRect{std::min(A.X, B.X), std::min(A.Y, B.Y), std::max(A.X, B.X) + 1, std::max(A.Y, B.Y) + 1};
}

// ---------------------------------------------------------------------------
// TOrientedRowWriter

TOrientedRowWriter::TOrientedRowWriter(TBitmap& Target, TOrientation O, std::int32_t StoredWidth,
                                       std::int32_t StoredHeight)
    : FTarget(Target), FOrientation(O), FWidth(StoredWidth), FHeight(StoredHeight),
      FBytesPerPixel(Target.BitsPerPixel() / 8) {}

std::uint8_t* TOrientedRowWriter::DirectRow(std::int32_t Y) {
  if (FOrientation == orNormal) return FTarget.ScanLine(Y);
  if (FOrientation == orMirrorVertical) return FTarget.ScanLine(FHeight - 1 - Y);
  return nullptr;
}

void TOrientedRowWriter::Put(std::int32_t Y, const std::uint8_t* Pixels) {
  if (Y < 0 || Y >= FHeight) return;
  const int B = FBytesPerPixel;
  const std::size_t RowBytes = static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(B);
  switch (FOrientation) {
    case orNormal: std::memcpy(FTarget.ScanLine(Y), Pixels, RowBytes); return;
    case orMirrorVertical: std::memcpy(FTarget.ScanLine(FHeight - 1 - Y), Pixels, RowBytes); return;
    case orMirrorHorizontal: ReverseInto(FTarget.ScanLine(Y), Pixels, FWidth, B); return;
    case orRotate180: ReverseInto(FTarget.ScanLine(FHeight - 1 - Y), Pixels, FWidth, B); return;
    default: break;
  }
  // The stored row becomes a displayed column; stored column X a displayed row.
  const bool FromRight = FOrientation == orRotate90 || FOrientation == orTransverse;
  const bool FromBottom = FOrientation == orTransverse || FOrientation == orRotate270;
  const std::int32_t Column = FromRight ? FHeight - 1 - Y : Y;
  std::uint8_t* Base = FTarget.ScanLine(0) + static_cast<std::ptrdiff_t>(Column) * B;
  const std::ptrdiff_t Stride = FTarget.Stride();
  for (std::int32_t X = 0; X < FWidth; ++X) {
    const std::int32_t Row = FromBottom ? FWidth - 1 - X : X;
    CopyPixel(Base + Row * Stride, Pixels + static_cast<std::ptrdiff_t>(X) * B, B);
  }
}

void TOrientedRowWriter::PutRows(std::int32_t Y, const std::uint8_t* First, std::ptrdiff_t Stride,
                                 std::int32_t Count) {
  Count = std::min(Count, FHeight - Y);
  if (Y < 0 || Count <= 0) return;
  if (!SwapsAxes(FOrientation)) {
    for (std::int32_t K = 0; K < Count; ++K) Put(Y + K, First + K * Stride);
    return;
  }
  const int B = FBytesPerPixel;
  const bool FromRight = FOrientation == orRotate90 || FOrientation == orTransverse;
  const bool FromBottom = FOrientation == orTransverse || FOrientation == orRotate270;
  // The displayed columns of the stored rows, left to right, and the stored
  // row that lands in the leftmost of them.
  const std::int32_t Left = FromRight ? FHeight - Y - Count : Y;
  const std::ptrdiff_t Step = FromRight ? -Stride : Stride;
  const std::uint8_t* LeftRow = FromRight ? First + (Count - 1) * Stride : First;
  const std::ptrdiff_t TargetStride = FTarget.Stride();
  std::uint8_t* Base = FTarget.ScanLine(0) + static_cast<std::ptrdiff_t>(Left) * B;
  for (std::int32_t X = 0; X < FWidth; ++X) {
    const std::int32_t Row = FromBottom ? FWidth - 1 - X : X;
    std::uint8_t* Out = Base + Row * TargetStride;
    const std::uint8_t* In = LeftRow + static_cast<std::ptrdiff_t>(X) * B;
    for (std::int32_t K = 0; K < Count; ++K, Out += B, In += Step) CopyPixel(Out, In, B);
  }
}

// ---------------------------------------------------------------------------
// ApplyOrientation

void ApplyOrientation(TBitmap& Bitmap, TOrientation O) {
  const int Bpp = Bitmap.BitsPerPixel();
  if (O == orNormal || Bitmap.Empty() || (Bpp != 8 && Bpp != 24 && Bpp != 32)) return;
  const std::int32_t W = Bitmap.Width(), H = Bitmap.Height();
  const int B = Bpp / 8;
  const std::size_t RowBytes = static_cast<std::size_t>(W) * static_cast<std::size_t>(B);
  if (!SwapsAxes(O)) {
    std::vector<std::uint8_t> Row(RowBytes);
    const bool Flip = O == orRotate180 || O == orMirrorVertical;
    const bool Reverse = O == orRotate180 || O == orMirrorHorizontal;
    // Row pairs from the outside in; the middle row of an odd height pairs with itself.
    for (std::int32_t Y = 0; Y < (Flip ? (H + 1) / 2 : H); ++Y) {
      std::uint8_t* A = Bitmap.ScanLine(Y);
      std::uint8_t* Z = Bitmap.ScanLine(Flip ? H - 1 - Y : Y);
      std::memcpy(Row.data(), A, RowBytes);
      if (Reverse) {
        ReverseInto(A, Z, W, B);
        ReverseInto(Z, Row.data(), W, B);
      } else {
        std::memcpy(A, Z, RowBytes);
        std::memcpy(Z, Row.data(), RowBytes);
      }
    }
    Bitmap.PixelsChanged();
    return;
  }
  const std::ptrdiff_t Stride = Bitmap.Stride();
  std::vector<std::uint8_t> Stored(static_cast<std::size_t>(Stride) * static_cast<std::size_t>(H));
  std::memcpy(Stored.data(), Bitmap.ScanLine(0), Stored.size());
  Bitmap.AllocateImage(H, W, Bpp, true);
  TOrientedRowWriter Writer(Bitmap, O, W, H);
  for (std::int32_t Y = 0; Y < H; ++Y) Writer.Put(Y, Stored.data() + Y * Stride);
  Bitmap.PixelsChanged();
}
