#include "picture/metafile/Dib.h"

#include <algorithm>
#include <cstring>

#include "picture/Bitmap.h"
#include "toolkit/ByteReader.h"
#include "toolkit/Blit.h"

namespace {

enum : std::uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_JPEG = 4, BI_PNG = 5 };

// The header fields that decoding needs.
struct THeader {
  std::uint32_t Size = 0;
  std::int32_t Width = 0, Height = 0;
  std::uint16_t Bpp = 0;
  std::uint32_t Compression = BI_RGB;
  std::uint32_t Used = 0;
  std::uint32_t Masks[4] = {0, 0, 0, 0};
};

bool ReadHeader(std::span<const std::uint8_t> Info, THeader& H) {
  try {
    TByteReader R(Info);
    H.Size = R.U32();
    if (H.Size == 12) {
      H.Width = R.U16();
      H.Height = R.U16();
      R.Skip(2);
      H.Bpp = R.U16();
      return true;
    }
    if (H.Size < 40 || H.Size > Info.size()) return false;
    H.Width = R.I32();
    H.Height = R.I32();
    R.Skip(2);
    H.Bpp = R.U16();
    H.Compression = R.U32();
    R.Skip(12);
    H.Used = R.U32();
    R.Skip(4);
    if (H.Compression == BI_BITFIELDS || H.Size >= 52) {
      // Masks follow a 40-byte header, and are part of the larger headers.
      for (int I = 0; I < 3; ++I) H.Masks[I] = R.U32();
      if (H.Size >= 56) H.Masks[3] = R.U32();
    }
    return true;
  } catch (const EReadError&) {
    return false;
  }
}

bool Sound(const THeader& H) {
  if (H.Width <= 0 || H.Height == 0 || H.Height == INT32_MIN) return false;
  const auto Pixels = CheckedMul(static_cast<std::uint64_t>(H.Width), static_cast<std::uint64_t>(std::abs(H.Height)));
  if (!Pixels || *Pixels > MaxPicturePixels) return false;
  switch (H.Bpp) {
    case 1: case 4: case 8: case 16: case 24: case 32: return true;
    case 0: return H.Compression == BI_JPEG || H.Compression == BI_PNG;
    default: return false;
  }
}

// Expands run-length-encoded rows into one byte per pixel, top row first.
bool DecodeRle(std::span<const std::uint8_t> Bits, int Width, int Height, bool Four, std::vector<std::uint8_t>& Out) {
  const std::uint64_t Pixels = static_cast<std::uint64_t>(Width) * Height;
  if (Pixels > static_cast<std::uint64_t>(Bits.size()) * 1024 + 1024) return false;
  Out.assign(static_cast<std::size_t>(Pixels), 0);
  std::int64_t X = 0, Y = Height - 1;  // bottom row first
  auto Put = [&](std::uint8_t V) {
    if (X < Width && Y >= 0) Out[static_cast<std::size_t>(Y * Width + X)] = V;
    ++X;
  };
  std::size_t I = 0;
  while (I + 1 < Bits.size() && Y >= 0) {
    const std::uint8_t N = Bits[I], V = Bits[I + 1];
    I += 2;
    if (N > 0) {
      for (int K = 0; K < N && X < Width; ++K) Put(Four ? ((K & 1) ? V & 0x0F : V >> 4) : V);
      continue;
    }
    if (V == 0) {  // end of line
      X = 0;
      --Y;
    } else if (V == 1) {  // end of bitmap
      break;
    } else if (V == 2) {  // delta
      if (I + 1 >= Bits.size()) break;
      X += Bits[I];
      Y -= Bits[I + 1];
      I += 2;
    } else {  // literal run of V pixels, padded to whole 16-bit words
      const std::size_t Bytes = Four ? (V + 1) / 2 : V;
      if (I + Bytes > Bits.size()) break;
      for (int K = 0; K < V; ++K) Put(Four ? ((K & 1) ? Bits[I + K / 2] & 0x0F : Bits[I + K / 2] >> 4) : Bits[I + K]);
      I += (Bytes + 1) & ~std::size_t{1};
    }
  }
  return true;
}

std::vector<std::uint32_t> ColorTable(const TDibSource& S, const THeader& H) {
  std::vector<std::uint32_t> Table;
  if (H.Bpp > 8) return Table;
  const std::uint32_t Max = 1u << H.Bpp;
  const std::uint32_t Count = H.Used && H.Used < Max ? H.Used : Max;
  const std::size_t Entry = S.PaletteIndices ? 2 : (H.Size == 12 ? 3 : 4);
  std::size_t Off = H.Size + (H.Compression == BI_BITFIELDS && H.Size == 40 ? 12 : 0);
  for (std::uint32_t I = 0; I < Count; ++I, Off += Entry) {
    if (Off + Entry > S.Info.size()) {
      Table.push_back(0);  // entries missing from the record are black
      continue;
    }
    const std::uint8_t* E = S.Info.data() + Off;
    if (S.PaletteIndices) {
      const std::uint32_t Index = E[0] | (E[1] << 8);
      const bool Have = S.Palette && Index < S.Palette->size();
      Table.push_back(Have ? (*S.Palette)[Index] : (Index & 1 ? 0xFFFFFF : 0));
    } else {
      Table.push_back(std::uint32_t{E[2]} << 16 | std::uint32_t{E[1]} << 8 | E[0]);
    }
  }
  return Table;
}

}  // namespace

bool ReadDibInfo(std::span<const std::uint8_t> Info, TDibInfo& Out) {
  THeader H;
  if (!ReadHeader(Info, H) || !Sound(H)) return false;
  Out.Width = H.Width;
  Out.Height = std::abs(H.Height);
  Out.BottomUp = H.Height > 0;
  return true;
}

QImage DecodeDib(const TDibSource& S, const QRect* Part, bool KeepAlpha) {
  THeader H;
  if (!ReadHeader(S.Info, H) || !Sound(H)) return QImage();
  const int W = H.Width, Ht = S.Rows > 0 && S.Rows < std::abs(H.Height) ? S.Rows : std::abs(H.Height);
  const QRect All(0, 0, W, Ht);
  const QRect Want = Part ? Part->intersected(All) : All;
  if (Want.isEmpty()) return QImage();

  if (H.Compression == BI_JPEG || H.Compression == BI_PNG) {
    QImage Img = QImage::fromData(S.Bits.data(), static_cast<int>(std::min<std::size_t>(S.Bits.size(), INT32_MAX)));
    if (Img.isNull()) return Img;
    return Img.copy(Want).convertToFormat(KeepAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  }

  const std::vector<std::uint32_t> Table = ColorTable(S, H);
  TPixelView V;
  V.Width = W;
  V.Height = Ht;
  V.Palette = Table.data();
  V.PaletteSize = static_cast<int>(Table.size());
  std::vector<std::uint8_t> Expanded;
  if (H.Compression == BI_RLE8 || H.Compression == BI_RLE4) {
    if ((H.Compression == BI_RLE8) != (H.Bpp == 8) || (H.Compression == BI_RLE4) != (H.Bpp == 4) || H.Height < 0)
      return QImage();
    if (!DecodeRle(S.Bits, W, Ht, H.Compression == BI_RLE4, Expanded)) return QImage();
    V.Bits = Expanded.data();
    V.Stride = W;
    V.BitsPerPixel = 8;
  } else if (H.Compression == BI_RGB || H.Compression == BI_BITFIELDS) {
    const std::size_t Row = BitmapRowSize(W, H.Bpp);
    const auto Need = CheckedMul(Row, static_cast<std::uint64_t>(Ht));
    if (Row == 0 || !Need || *Need > S.Bits.size()) return QImage();
    V.BitsPerPixel = H.Bpp;
    V.Stride = H.Height > 0 ? -static_cast<std::ptrdiff_t>(Row) : static_cast<std::ptrdiff_t>(Row);
    V.Bits = H.Height > 0 ? S.Bits.data() + Row * (Ht - 1) : S.Bits.data();
    if (H.Compression == BI_BITFIELDS) {
      V.RedMask = H.Masks[0];
      V.GreenMask = H.Masks[1];
      V.BlueMask = H.Masks[2];
    }
  } else {
    return QImage();
  }

  if (KeepAlpha && H.Bpp == 32 && H.Compression == BI_RGB) {
    // Alpha-blended bitmaps carry premultiplied alpha in the top byte.
    QImage Img(Want.width(), Want.height(), QImage::Format_ARGB32_Premultiplied);
    if (Img.isNull()) return Img;
    for (int Y = 0; Y < Want.height(); ++Y) {
      const std::uint8_t* Src = V.Bits + (Want.top() + Y) * V.Stride + 4 * static_cast<std::ptrdiff_t>(Want.left());
      auto* Dst = reinterpret_cast<std::uint32_t*>(Img.scanLine(Y));
      for (int X = 0; X < Want.width(); ++X) {
        const std::uint32_t A = Src[4 * X + 3];
        // Colour channels above their alpha would not be premultiplied: they are limited to it.
        const std::uint32_t Rr = std::min<std::uint32_t>(Src[4 * X + 2], A), G = std::min<std::uint32_t>(Src[4 * X + 1], A),
                            B = std::min<std::uint32_t>(Src[4 * X], A);
        Dst[X] = A << 24 | Rr << 16 | G << 8 | B;
      }
    }
    return Img;
  }
  QImage Img(Want.width(), Want.height(), QImage::Format_RGB32);
  if (Img.isNull()) return Img;
  StretchBlt(Img, TRect{0, 0, Want.width(), Want.height()}, nullptr, V,
             TRect{Want.left(), Want.top(), Want.right() + 1, Want.bottom() + 1});
  return Img;
}
