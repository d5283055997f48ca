#include "picture/png/Png.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include <spng.h>

#include "picture/decoding/ColorProfile.h"
#include "picture/FileFormats.h"
#include "picture/Limits.h"
#include "toolkit/Blit.h"
#include "toolkit/SysUtils.h"

KEST_CLASS_IMPL(TPngImage, TDecodedGraphic)

bool TPngImage::HasSignature(std::span<const std::uint8_t> Head) {
  return HeadHas(Head, 0, "\x89PNG\r\n\x1A\n");
}

void InitializePngSupport() {
  TFileFormatsList& Formats = TFileFormatsList::Instance();
  Formats.UnregisterClass(TPngImage::StaticClass());
  Formats.RegisterSignature(TPngImage::StaticClass(), &TPngImage::HasSignature);
  Formats.RegisterFormat("png", "PNG Image File", TPngImage::StaticClass());
}

void FinalizePngSupport() { TFileFormatsList::Instance().UnregisterClass(TPngImage::StaticClass()); }

namespace {

struct TSpngFree {
  void operator()(spng_ctx* C) const { spng_ctx_free(C); }
};
using TSpng = std::unique_ptr<spng_ctx, TSpngFree>;

[[noreturn]] void Fail(int Code) { throw EPNG(Format("PNG image is not valid (%s)", {spng_strerror(Code)})); }

void Check(int Code) {
  if (Code) Fail(Code);
}

// Ancillary chunks of untrusted files may not make the decoder hold more than this.
constexpr std::size_t MaxChunkBytes = std::size_t{1} << 24;
constexpr std::size_t MaxChunkCache = std::size_t{1} << 26;

// Adam7: where each pass's pixels lie in the picture.
constexpr int PassX0[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr int PassDx[7] = {8, 8, 4, 4, 2, 2, 1};
// The lattice that the passes up to and including P have filled: cell width, height.
constexpr int CellW[7] = {8, 4, 4, 2, 2, 1, 1};
constexpr int CellH[7] = {8, 8, 4, 4, 2, 2, 1};
// The share of the pixels that the passes before each pass hold, in 64ths.
constexpr int SharesBefore[7] = {0, 1, 2, 4, 8, 16, 32};

struct TPngInfo {
  spng_ihdr Ihdr{};
  bool Alpha = false;
  bool Gamma = false;
  TOrientation Orientation = orNormal;
  std::span<const std::uint8_t> Icc;  // the embedded profile, valid while the decoder lives
};

TSpng Open(std::span<const std::uint8_t> Bytes) {
  // The pixel data's own checksum is not checked: the chunk checksums around
  // it already catch damaged bytes, and it costs a pass over the pixels.
  TSpng C(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
  if (!C) throw EOutOfResources("Out of system resources");
  // A damaged ancillary chunk is dropped rather than failing the picture.
  spng_set_crc_action(C.get(), SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
  spng_set_chunk_limits(C.get(), MaxChunkBytes, MaxChunkCache);
  Check(spng_set_png_buffer(C.get(), Bytes.data(), Bytes.size()));
  return C;
}

// Reads the header and the chunks before the pixel data.
TPngInfo ReadInfo(spng_ctx* C) {
  TPngInfo I;
  Check(spng_get_ihdr(C, &I.Ihdr));
  // Refused before anything is allocated for the pixels.
  if (std::uint64_t{I.Ihdr.width} * I.Ihdr.height > MaxPicturePixels)
    throw EPNG(Format("PNG image is too large (%u x %u)", {I.Ihdr.width, I.Ihdr.height}));
  spng_trns Trns;
  const int T = spng_get_trns(C, &Trns);
  if (T != 0 && T != SPNG_ECHUNKAVAIL) Fail(T);
  I.Alpha = T == 0 || I.Ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
            I.Ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  // A file gamma is applied unless the file says it is sRGB or carries a
  // profile; the usual 1/2.2 is the screen's already.
  double G = 0;
  std::uint8_t Intent = 0;
  spng_iccp Iccp;
  const bool HasIcc = spng_get_iccp(C, &Iccp) == 0 && Iccp.profile && Iccp.profile_len > 0;
  if (HasIcc) I.Icc = {reinterpret_cast<const std::uint8_t*>(Iccp.profile), Iccp.profile_len};
  if (spng_get_gama(C, &G) == 0 && G > 0 && spng_get_srgb(C, &Intent) != 0 && !HasIcc)
    I.Gamma = std::abs(G * 2.2 - 1.0) > 0.01;
  spng_exif Exif;
  if (spng_get_exif(C, &Exif) == 0 && Exif.data)
    I.Orientation = ReadExifOrientation({reinterpret_cast<const std::uint8_t*>(Exif.data), Exif.length});
  return I;
}

inline std::uint8_t Mul255(std::uint32_t V, std::uint32_t A) {
  const std::uint32_t X = V * A + 128;
  return static_cast<std::uint8_t>((X + (X >> 8)) >> 8);
}

// Turns the decoder's pixels at X0, X0 + Dx, ... of a row into the bitmap's
// form: red and blue swapped, and with alpha, premultiplied.
void ConvertRow(std::uint8_t* Row, std::int32_t Width, bool Alpha, int X0, int Dx, bool Premultiply = true) {
  if (Alpha && !Premultiply) {
    for (std::int32_t X = X0; X < Width; X += Dx) std::swap(Row[4 * static_cast<std::ptrdiff_t>(X)], Row[4 * static_cast<std::ptrdiff_t>(X) + 2]);
  } else if (Alpha) {
    for (std::int32_t X = X0; X < Width; X += Dx) {
      std::uint8_t* P = Row + 4 * static_cast<std::ptrdiff_t>(X);
      const std::uint32_t A = P[3];
      const std::uint8_t R = P[0];
      if (A == 255) {
        P[0] = P[2];
        P[2] = R;
      } else {
        P[0] = Mul255(P[2], A);
        P[1] = Mul255(P[1], A);
        P[2] = Mul255(R, A);
      }
    }
  } else if (Dx == 1) {
    SwapRedBlue24(Row + 3 * static_cast<std::ptrdiff_t>(X0), Width - X0);
  } else {
    for (std::int32_t X = X0; X < Width; X += Dx) std::swap(Row[3 * static_cast<std::ptrdiff_t>(X)], Row[3 * static_cast<std::ptrdiff_t>(X) + 2]);
  }
}

void PremultiplyRow(std::uint8_t* Row, std::int32_t Width) {
  for (std::int32_t X = 0; X < Width; ++X) {
    std::uint8_t* P = Row + 4 * static_cast<std::ptrdiff_t>(X);
    for (int K = 0; K < 3; ++K) P[K] = Mul255(P[K], P[3]);
  }
}

// Fills every pixel that the passes up to Pass have not reached with the one
// they reached at the top-left of its cell, so that the picture shows whole
// (its first Rows rows).
void FillFromPass(TBitmap& B, int Pass, std::int32_t Rows = std::numeric_limits<std::int32_t>::max()) {
  const int Cw = CellW[Pass], Ch = CellH[Pass];
  const std::size_t Bpp = static_cast<std::size_t>(B.BitsPerPixel() / 8);
  for (std::int32_t Y = 0; Y < std::min(B.Height(), Rows); ++Y) {
    const std::uint8_t* Src = B.ScanLine(Y - Y % Ch);
    std::uint8_t* Dst = B.ScanLine(Y);
    for (std::int32_t X = 0; X < B.Width(); ++X)
      if (X % Cw != 0 || Y % Ch != 0) std::memcpy(Dst + X * Bpp, Src + (X - X % Cw) * Bpp, Bpp);
  }
}

// Rows not yet written are made black (transparent with alpha) before anyone
// can look at them.
void ZeroRowsFrom(TBitmap& B, std::int32_t Row) {
  for (std::int32_t Y = std::max(Row, 0); Y < B.Height(); ++Y)
    std::memset(B.ScanLine(Y), 0, static_cast<std::size_t>(B.Stride()));
}

}  // namespace

TPngImage::TPngImage() = default;

TDecodedGraphic::THeader TPngImage::ReadHeader(std::span<const std::uint8_t> Bytes) const {
  TSpng C = Open(Bytes);
  const TPngInfo I = ReadInfo(C.get());
  return THeader{static_cast<std::int32_t>(I.Ihdr.width), static_cast<std::int32_t>(I.Ihdr.height), I.Alpha,
                 I.Orientation};
}

void TPngImage::DecodeStill(std::span<const std::uint8_t> Bytes, TBitmap& Target) {
  TSpng C = Open(Bytes);
  const TPngInfo I = ReadInfo(C.get());
  const auto W = static_cast<std::int32_t>(I.Ihdr.width), H = static_cast<std::int32_t>(I.Ihdr.height);
  const bool Interlaced = I.Ihdr.interlace_method != 0;
  // Interlaced passes write scattered pixels: the rest must be defined from
  // the start. A plain file writes every row in order, so clearing would only
  // cost a pass over the picture.
  Target.AllocateImage(W, H, I.Alpha ? 32 : 24, Interlaced);
  SetDecodedAlpha(I.Alpha);
  const int Fmt = I.Alpha ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
  const int Flags = SPNG_DECODE_PROGRESSIVE | (I.Alpha ? SPNG_DECODE_TRNS : 0) | (I.Gamma ? SPNG_DECODE_GAMMA : 0);
  const std::size_t RowBytes = static_cast<std::size_t>(W) * (I.Alpha ? 4 : 3);
  // An embedded profile converts each row once, before alpha is multiplied
  // in; the passes of an interlaced file are converted when all are there.
  const std::unique_ptr<TColorTransform> Profile = TColorTransform::ToSrgb(I.Icc, I.Alpha ? ppBGRA8 : ppBGR8);
  const bool RowProfile = Profile && !Interlaced;
  const bool Premultiply = !(Profile && Interlaced);

  int Pass = 0;
  int LastFilledPass = -1;
  std::int32_t Done = 0;       // rows finished (plain files; the first pass's rows reached)
  std::int32_t Reported = 0;   // first row not yet reported
  bool RowsUnwritten = !Interlaced;
  int Error = spng_decode_image(C.get(), nullptr, 0, Fmt, Flags);
  while (Error == 0) {
    spng_row_info Ri;
    Error = spng_get_row_info(C.get(), &Ri);
    if (Error) break;
    if (Interlaced && Ri.pass != Pass) {
      // A pass is complete. Interlaced files report progress only here: with
      // progressive display the picture is then whole at the pass's resolution.
      const int Finished = Pass;
      const bool Show = ProgressiveDisplay();
      if (DecodeProgress(SharesBefore[Ri.pass] * 100 / 64, Show ? TRect{0, 0, W, H} : TRect{}, [&] {
            if (Show) FillFromPass(Target, Finished);
          }) && Show)
        LastFilledPass = Finished;
      Pass = Ri.pass;
    }
    if (Ri.row_num >= I.Ihdr.height || Ri.pass < 0 || Ri.pass > 6) {
      Error = SPNG_EINTERNAL;
      break;
    }
    std::uint8_t* Row = Target.ScanLine(static_cast<std::int32_t>(Ri.row_num));
    Error = spng_decode_row(C.get(), Row, RowBytes);
    if (Error != 0 && Error != SPNG_EOI) break;
    ConvertRow(Row, W, I.Alpha, Interlaced ? PassX0[Pass] : 0, Interlaced ? PassDx[Pass] : 1, Premultiply && !RowProfile);
    if (RowProfile) {
      Profile->Convert(Row, Row, static_cast<std::size_t>(W));
      if (I.Alpha) PremultiplyRow(Row, W);
    }
    if (Interlaced && Pass == 0) Done = static_cast<std::int32_t>(Ri.row_num) + 1;
    if (!Interlaced) {
      Done = static_cast<std::int32_t>(Ri.row_num) + 1;
      if (DecodeProgress(static_cast<int>(std::int64_t{Done} * 100 / H), TRect{0, Reported, W, Done}, [&] {
            if (std::exchange(RowsUnwritten, false)) ZeroRowsFrom(Target, Done);
          }))
        Reported = Done;
    }
  }
  if (Profile && Interlaced)
    for (std::int32_t Y = 0; Y < H; ++Y) {
      Profile->Convert(Target.ScanLine(Y), Target.ScanLine(Y), static_cast<std::size_t>(W));
      if (I.Alpha) PremultiplyRow(Target.ScanLine(Y), W);
    }
  if (Error == SPNG_EOI) return;

  // The file ends early or its data is damaged: what decoded stays, the rest
  // shows what lies below. Cut in its first pass, an interlaced picture shows
  // the blocks of the rows that pass reached, as a plain one shows its rows.
  if (Interlaced && Pass > 0) {
    if (LastFilledPass != Pass - 1) FillFromPass(Target, Pass - 1);
  } else if (Interlaced && Done > 0) {
    const std::int32_t Reached = std::min(H, Done - 1 + CellH[0]);
    FillFromPass(Target, 0, Reached);
    ClearRowsFrom(Target, Reached);
  } else {
    ClearRowsFrom(Target, Done);
  }
  // A file that simply ends is shown without an error, as a cut JPEG is.
  if (Error == SPNG_EOF || Error == SPNG_IO_EOF) return;
  Fail(Error);
}
