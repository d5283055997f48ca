#include "picture/icon/IcoImage.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <QPainter>
#include <png.h>

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

// libpng's reading of one PNG entry. libpng reports errors by a long jump back
// into the function that set it up, so the functions that call it hold
// nothing that needs destroying.
struct TPngRead {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  std::span<const std::uint8_t> Bytes;
  std::size_t Pos = 0;
};

void PngReadBytes(png_structp Png, png_bytep Out, std::size_t Size) {
  auto* S = static_cast<TPngRead*>(png_get_io_ptr(Png));
  if (Size > S->Bytes.size() - S->Pos) png_error(Png, "the data ends early");
  std::memcpy(Out, S->Bytes.data() + S->Pos, Size);
  S->Pos += Size;
}

[[noreturn]] void PngError(png_structp Png, png_const_charp) { png_longjmp(Png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// Reads the chunks before the pixel data and asks for 8-bit blue, green, red,
// alpha (opaque where the file has no transparency): the bytes of a 32-bit
// ARGB pixel. False when libpng fails.
bool PngReadHeader(TPngRead& S, png_uint_32& Width, png_uint_32& Height, int& Passes) {
  if (setjmp(png_jmpbuf(S.Png))) return false;
  // Files whose compressed data claims a smaller window than it uses still decode.
  png_set_option(S.Png, PNG_MAXIMUM_INFLATE_WINDOW, PNG_OPTION_ON);
  // The pixel data's own checksum is not checked: the chunk checksums around
  // it already catch damaged bytes, and it costs a pass over the data.
  png_set_option(S.Png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
  png_set_read_fn(S.Png, &S, PngReadBytes);
  png_read_info(S.Png, S.Info);
  png_set_expand(S.Png);  // palette to colours, gray to 8 bits, tRNS to alpha
  png_set_scale_16(S.Png);
  png_set_gray_to_rgb(S.Png);
  png_set_bgr(S.Png);
  png_set_filler(S.Png, 0xFF, PNG_FILLER_AFTER);  // adds alpha only where there is none
  Passes = png_set_interlace_handling(S.Png);
  png_read_update_info(S.Png, S.Info);
  Width = png_get_image_width(S.Png, S.Info);
  Height = png_get_image_height(S.Png, S.Info);
  return png_get_rowbytes(S.Png, S.Info) == std::size_t{4} * Width;
}

// Reads every pass's rows into the image. False when libpng fails.
bool PngReadPixels(TPngRead& S, std::uint8_t* Bits, std::size_t Stride, png_uint_32 Height, int Passes) {
  if (setjmp(png_jmpbuf(S.Png))) return false;
  for (int Pass = 0; Pass < Passes; ++Pass)
    for (png_uint_32 Y = 0; Y < Height; ++Y) png_read_row(S.Png, Bits + Y * Stride, nullptr);
  // The chunks after the pixel data are read as well: a file that is cut
  // short or damaged there is refused.
  png_read_end(S.Png, nullptr);
  return true;
}

QImage DecodePng(std::span<const std::uint8_t> Bytes) {
  // The size in the header chunk is checked before anything is allocated.
  TByteReader R(Bytes);
  R.Skip(12);  // signature and chunk length
  const auto Chunk = R.Bytes(12);
  if (std::memcmp(Chunk.data(), "IHDR", 4) != 0) Refused();
  auto Be32 = [](const std::uint8_t* P) {
    return (std::uint64_t{P[0]} << 24) | (std::uint64_t{P[1]} << 16) | (std::uint64_t{P[2]} << 8) | P[3];
  };
  // Both factors are below 2^32, so the product cannot overflow.
  const std::uint64_t Pixels = Be32(Chunk.data() + 4) * Be32(Chunk.data() + 8);
  if (Pixels == 0 || Pixels > MaxPicturePixels) Refused();

  TPngRead S;
  S.Bytes = Bytes;
  S.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (S.Png) S.Info = png_create_info_struct(S.Png);
  struct TFree {
    TPngRead& S;
    ~TFree() { png_destroy_read_struct(&S.Png, &S.Info, nullptr); }
  } Free{S};
  if (!S.Info) throw EOutOfResources(SysErrorMessage(ENOMEM));
  png_uint_32 W = 0, H = 0;
  int Passes = 1;
  if (!PngReadHeader(S, W, H, Passes) || std::uint64_t{W} * H != Pixels) Refused();
  // Every row is written before the image is used: it is not cleared first.
  QImage I(static_cast<int>(W), static_cast<int>(H), QImage::Format_ARGB32);
  if (I.isNull()) throw EOutOfResources(SysErrorMessage(ENOMEM));
  if (!PngReadPixels(S, I.bits(), static_cast<std::size_t>(I.bytesPerLine()), H, Passes)) Refused();
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
