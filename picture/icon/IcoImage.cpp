#include "picture/icon/IcoImage.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include <QPainter>

#include "picture/Bitmap.h"
#include "picture/Dib.h"
#include "toolkit/Blit.h"
#include "toolkit/SysUtils.h"

namespace {

[[noreturn]] void Refused() { throw EOutOfResources("Out of system resources"); }

// The image in the form it is drawn in, converted in place where Qt can (no
// second buffer for the converted pixels).
QImage Premultiplied(QImage I) {
  I.convertTo(QImage::Format_ARGB32_Premultiplied);
  if (I.isNull()) throw EOutOfResources(SysErrorMessage(ENOMEM));
  return I;
}

bool IsPng(std::span<const std::uint8_t> Bytes) {
  static constexpr std::uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return Bytes.size() >= 8 && std::memcmp(Bytes.data(), Signature, 8) == 0;
}

QImage DecodePng(std::span<const std::uint8_t> Bytes) {
  // The size in the header chunk is checked before Qt allocates anything.
  TByteReader R(Bytes);
  R.Skip(12);  // signature and chunk length
  const auto Chunk = R.Bytes(12);
  if (std::memcmp(Chunk.data(), "IHDR", 4) != 0) Refused();
  auto Be32 = [](const std::uint8_t* P) {
    return (std::uint64_t{P[0]} << 24) | (std::uint64_t{P[1]} << 16) | (std::uint64_t{P[2]} << 8) | P[3];
  };
  // Both factors are below 2^32, so the product cannot overflow.
  const std::uint64_t Pixels = Be32(Chunk.data() + 4) * Be32(Chunk.data() + 8);
  if (Pixels == 0 || Pixels > MaxPicturePixels || Bytes.size() > INT_MAX) Refused();
  QImage I = QImage::fromData(Bytes.data(), static_cast<int>(Bytes.size()), "PNG");
  if (I.isNull()) Refused();
  return Premultiplied(std::move(I));
}

// Sets the alpha of every pixel of the RGB32 image and makes it ARGB32: from
// the alpha bytes of a 32-bit image that has any or that comes without a mask,
// otherwise opaque where the AND mask bit is clear.
void ApplyTransparency(QImage& Img, const TPixelView& Colors, std::span<const std::uint8_t> Mask,
                       std::size_t MaskStride) {
  const std::int32_t W = Img.width(), H = Img.height();
  bool HasAlpha = Colors.BitsPerPixel == 32 && Mask.empty();
  for (std::int32_t Y = 0; Y < H && Colors.BitsPerPixel == 32 && !HasAlpha; ++Y) {
    const std::uint8_t* Row = Colors.Bits + Y * Colors.Stride;
    for (std::int32_t X = 0; X < W && !HasAlpha; ++X) HasAlpha = Row[4 * X + 3] != 0;
  }
  for (std::int32_t Y = 0; Y < H; ++Y) {
    auto* Out = reinterpret_cast<std::uint32_t*>(Img.scanLine(Y));
    const std::uint8_t* Bits = Colors.Bits + Y * Colors.Stride;
    const std::uint8_t* M = HasAlpha ? nullptr : Mask.data() + static_cast<std::size_t>(H - 1 - Y) * MaskStride;
    for (std::int32_t X = 0; X < W; ++X) {
      const std::uint32_t A = HasAlpha ? Bits[4 * X + 3] : ((M[X >> 3] >> (7 - (X & 7))) & 1) ? 0 : 0xFF;
      Out[X] = (Out[X] & 0xFFFFFFu) | (A << 24);
    }
  }
  Img.reinterpretAsFormat(QImage::Format_ARGB32);
}

// A bitmap image: the header's height counts the colour rows and the mask
// rows, both stored bottom-up and uncompressed (or with bit fields).
QImage DecodeBitmapImage(std::span<const std::uint8_t> Bytes) {
  TByteReader R(Bytes);
  TBmpInfo Info = ReadBmpInfo(R);
  Info.Height /= 2;
  if (Info.Encoded() || Info.TopDown() || !BmpLayoutSupported(Info)) Refused();
  const std::vector<std::uint32_t> Table = ReadBmpColorTable(R, Info);
  const auto H = static_cast<std::size_t>(Info.Height);
  const std::size_t ColorStride = BitmapRowSize(Info.Width, Info.BitsPerPixel);
  const std::size_t MaskStride = BitmapRowSize(Info.Width, 1);
  const auto ColorBits = R.Bytes(ColorStride * H);
  // 32-bit images may end with their colour rows: their alpha bytes are the
  // transparency, and there is no mask.
  const bool NoMask = Info.BitsPerPixel == 32 && R.AtEnd();
  const auto Mask = NoMask ? std::span<const std::uint8_t>() : R.Bytes(MaskStride * H);
  std::vector<std::uint8_t> Storage;
  const TPixelView V = BmpPixelView(Info, Table, ColorBits, Storage);
  QImage Img = BmpViewToImage(V, QRect(0, 0, V.Width, V.Height));
  if (Img.isNull()) throw EOutOfResources(SysErrorMessage(ENOMEM));
  ApplyTransparency(Img, V, Mask, MaskStride);
  return Premultiplied(std::move(Img));
}

}  // namespace

QImage DecodeIconImage(std::span<const std::uint8_t> Bytes) {
  try {
    return IsPng(Bytes) ? DecodePng(Bytes) : DecodeBitmapImage(Bytes);
  } catch (const EReadError&) {
    Refused();
  }
}

QImage DefaultApplicationIcon() {
  QImage I(32, 32, QImage::Format_ARGB32_Premultiplied);
  I.fill(Qt::transparent);
  QPainter P(&I);
  P.fillRect(2, 4, 28, 24, QColor(64, 64, 64));     // frame
  P.fillRect(3, 5, 26, 4, QColor(0, 0, 128));       // title bar
  P.fillRect(25, 6, 3, 2, QColor(192, 192, 192));   // close box
  P.fillRect(3, 10, 26, 17, QColor(255, 255, 255)); // client area
  return I;
}
