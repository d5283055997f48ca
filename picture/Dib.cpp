#include "picture/Dib.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include "picture/Bitmap.h"

TBmpInfo ReadBmpInfo(TByteReader& R) {
  TBmpInfo I;
  I.HeaderSize = R.U32();
  if (I.CoreHeader()) {
    I.Width = R.U16();
    I.Height = R.U16();
    I.Planes = R.U16();
    I.BitsPerPixel = R.U16();
    return I;
  }
  // The fields up to the end of the masks (header offsets 4 to 52), zero where
  // a shorter header ends: short OS/2-style headers leave them out.
  const std::size_t Len = I.HeaderSize >= 4 ? I.HeaderSize - 4 : 0;
  const auto Body = R.Bytes(Len);
  std::array<std::uint8_t, 48> Fields{};
  std::memcpy(Fields.data(), Body.data(), std::min(Len, Fields.size()));
  TByteReader F(Fields);
  I.Width = F.I32();
  I.Height = F.I32();
  I.Planes = F.U16();
  I.BitsPerPixel = F.U16();
  I.Compression = F.U32();
  I.ImageSize = F.U32();
  F.Skip(8);  // pixels per metre
  I.ColorsUsed = F.U32();
  F.Skip(4);  // important colours
  if (I.Compression != bcBitFields) return I;
  // Headers of 52 bytes and more hold the masks; the 40-byte header is followed by them.
  TByteReader& M = I.HeaderSize >= 52 ? F : R;
  for (std::uint32_t& Mask : I.Masks) Mask = M.U32();
  return I;
}

bool BmpLayoutSupported(const TBmpInfo& I) {
  if (I.Planes != 1) return false;
  const int Bpp = I.BitsPerPixel;
  if (Bpp != 1 && Bpp != 4 && Bpp != 8 && Bpp != 16 && Bpp != 24 && Bpp != 32) return false;
  switch (I.Compression) {
    case bcRGB: break;
    case bcRLE8:
    case bcRLE4:
      // Encoded rows always run bottom-up.
      if (Bpp != (I.Compression == bcRLE8 ? 8 : 4) || I.TopDown()) return false;
      break;
    case bcBitFields:
      if (Bpp != 16 && Bpp != 32) return false;
      break;
    default: return false;
  }
  if (I.Width <= 0 || I.Height == 0) return false;
  // Both factors are below 2^32, so the product cannot overflow.
  return static_cast<std::uint64_t>(I.Width) * static_cast<std::uint64_t>(I.AbsHeight()) <= MaxPicturePixels;
}

std::uint64_t BmpColorCount(const TBmpInfo& Info) {
  const int Bpp = Info.BitsPerPixel;
  return Info.ColorsUsed ? Info.ColorsUsed : (Bpp <= 8 ? std::uint64_t{1} << Bpp : 0);
}

std::size_t BmpColorEntrySize(const TBmpInfo& Info, const TColorEntries& Form) {
  return Form.PaletteIndices ? 2 : Info.CoreHeader() ? 3 : 4;
}

std::vector<std::uint32_t> ReadBmpColorTable(TByteReader& R, const TBmpInfo& Info, const TColorEntries& Form) {
  const int Bpp = Info.BitsPerPixel;
  const std::uint64_t Count = BmpColorCount(Info);
  const std::size_t EntrySize = BmpColorEntrySize(Info, Form);
  // Count is below 2^32, so the byte count cannot overflow; Bytes raises when
  // the table runs past the end, before anything is allocated.
  const auto Raw = R.Bytes(static_cast<std::size_t>(Count * EntrySize));
  const std::uint64_t Keep = std::min<std::uint64_t>(Count, Bpp <= 8 ? std::uint64_t{1} << Bpp : 256);
  std::vector<std::uint32_t> Table(static_cast<std::size_t>(Keep));
  for (std::size_t I = 0; I < Table.size(); ++I) {
    const std::uint8_t* E = Raw.data() + I * EntrySize;
    if (!Form.PaletteIndices) {
      Table[I] = (std::uint32_t{E[2]} << 16) | (std::uint32_t{E[1]} << 8) | E[0];
      continue;
    }
    // An index outside the palette, or one without a palette, takes the
    // default colours: black for even indices, white for odd ones.
    const std::uint32_t Index = E[0] | (E[1] << 8);
    const bool Have = Form.Palette && Index < Form.Palette->size();
    Table[I] = Have ? (*Form.Palette)[Index] : (Index & 1 ? 0xFFFFFF : 0);
  }
  return Table;
}

std::span<const std::uint8_t> BmpPixelBytes(const TBmpInfo& Info, std::span<const std::uint8_t> Rest) {
  std::uint64_t Length = Rest.size();
  if (!Info.Encoded()) {
    // Rows are read whatever the image-size field says: writers often leave it
    // too small, and the rows that the file holds are the picture's.
    const auto Rows = CheckedMul(BitmapRowSize(Info.Width, Info.BitsPerPixel), static_cast<std::uint64_t>(Info.AbsHeight()));
    Length = Rows.value_or(Length);
  } else if (Info.ImageSize) {
    // Encoded data has no size of its own to compute; it ends at its end code.
    Length = Info.ImageSize;
  }
  return Rest.first(static_cast<std::size_t>(std::min<std::uint64_t>(Length, Rest.size())));
}

namespace {

// Copies uncompressed rows in file order into top-down rows. Rows the data
// does not reach, and the rest of a row it ends in, become zero (black for the
// direct-colour depths).
void CopyRows(const TBmpInfo& Info, std::span<const std::uint8_t> Pixels, std::uint8_t* Rows, std::ptrdiff_t Stride) {
  const std::size_t RowSize = BitmapRowSize(Info.Width, Info.BitsPerPixel);
  const std::size_t Width = std::min(RowSize, static_cast<std::size_t>(Stride));
  const std::int64_t H = Info.AbsHeight();
  for (std::int64_t I = 0; I < H; ++I) {
    std::uint8_t* Dst = Rows + (Info.TopDown() ? I : H - 1 - I) * Stride;
    const std::size_t From = static_cast<std::size_t>(I) * RowSize;
    const std::size_t N = From < Pixels.size() ? std::min(Width, Pixels.size() - From) : 0;
    if (N) std::memcpy(Dst, Pixels.data() + From, N);
    if (N < static_cast<std::size_t>(Stride)) std::memset(Dst + N, 0, static_cast<std::size_t>(Stride) - N);
  }
}

// Writes decoded pixels into one top-down row pixel by pixel, dropping those
// past the right edge: any depth, the way 4-bit data is written.
class TPixelRow {
 public:
  TPixelRow(std::uint8_t* Row, int Bpp, std::int64_t Width) : FRow(Row), FBpp(Bpp), FWidth(Width) {}

  // N pixels of a repeated run from X: RLE8 repeats its byte; RLE4 alternates
  // the byte's high and low nibbles, high first.
  void Fill(std::int64_t X, unsigned N, std::uint8_t V) const {
    for (unsigned I = 0; I < N; ++I) Put(X + I, FBpp == 8 ? V : (I & 1) ? (V & 0x0F) : (V >> 4));
  }
  // The pixels of an absolute run from X; Run holds its bytes, N its pixels.
  void Copy(std::int64_t X, unsigned N, std::span<const std::uint8_t> Run) const {
    for (unsigned I = 0; I < N; ++I) {
      const std::uint8_t B = Run[FBpp == 8 ? I : I / 2];
      Put(X + I, FBpp == 8 ? B : (I & 1) ? (B & 0x0F) : (B >> 4));
    }
  }

 private:
  void Put(std::int64_t X, std::uint8_t Index) const {
    if (X >= FWidth) return;
    if (FBpp == 8) {
      FRow[X] = Index;
      return;
    }
    std::uint8_t& B = FRow[X >> 1];
    B = (X & 1) ? static_cast<std::uint8_t>((B & 0xF0) | Index) : static_cast<std::uint8_t>((B & 0x0F) | (Index << 4));
  }

  std::uint8_t* FRow;
  int FBpp;
  std::int64_t FWidth;
};

// The same for 8 bits a run at a time: each run is cut to the row once, then
// filled or copied in one call.
class TByteRow {
 public:
  TByteRow(std::uint8_t* Row, int, std::int64_t Width) : FRow(Row), FWidth(Width) {}

  void Fill(std::int64_t X, unsigned N, std::uint8_t V) const {
    if (const std::size_t K = Fits(X, N)) std::memset(FRow + X, V, K);
  }
  void Copy(std::int64_t X, unsigned N, std::span<const std::uint8_t> Run) const {
    if (const std::size_t K = Fits(X, N)) std::memcpy(FRow + X, Run.data(), K);
  }

 private:
  std::size_t Fits(std::int64_t X, unsigned N) const {
    return X < FWidth ? static_cast<std::size_t>(std::min<std::int64_t>(N, FWidth - X)) : 0;
  }

  std::uint8_t* FRow;
  std::int64_t FWidth;
};

// Expands run-length data into rows that the caller zero-filled, bottom row
// first, stopping at the end-of-bitmap code, at the top row or where the data
// ends; an absolute run cut short by the end keeps the pixels it has.
template <class TRow>
void ExpandRle(std::span<const std::uint8_t> Data, int Bpp, std::uint8_t* Bits, std::ptrdiff_t Stride,
               std::int64_t Width, std::int64_t Height) {
  const std::uint8_t* P = Data.data();
  const std::uint8_t* const End = P + Data.size();
  std::int64_t X = 0, Y = 0;  // Y counts rows from the bottom
  while (Y < Height && End - P >= 2) {
    const TRow Row(Bits + (Height - 1 - Y) * Stride, Bpp, Width);
    const std::uint8_t N = P[0], V = P[1];
    P += 2;
    if (N > 0) {
      Row.Fill(X, N, V);
      X += N;
      continue;
    }
    switch (V) {
      case 0:  // end of line
        X = 0;
        ++Y;
        break;
      case 1:  // end of bitmap
        return;
      case 2:  // delta: move right and up
        if (End - P < 2) return;
        X += P[0];
        Y += P[1];
        P += 2;
        break;
      default: {
        // Absolute run of V pixels, padded to a whole 16-bit word.
        const std::size_t Bytes = Bpp == 8 ? V : (V + 1u) / 2;
        const std::size_t Have = std::min<std::size_t>(Bytes, static_cast<std::size_t>(End - P));
        if (Have < Bytes) {
          // Cut short: the whole bytes there are, and no more.
          const unsigned Pixels = static_cast<unsigned>(Bpp == 8 ? Have : 2 * Have);
          Row.Copy(X, Pixels, std::span(P, Have));
          return;
        }
        Row.Copy(X, V, std::span(P, Bytes));
        P += std::min<std::size_t>((Bytes + 1) & ~std::size_t{1}, static_cast<std::size_t>(End - P));
        X += V;
      }
    }
  }
}

}  // namespace

void DecodeBmpPixels(const TBmpInfo& Info, std::span<const std::uint8_t> Pixels, std::uint8_t* Rows,
                     std::ptrdiff_t Stride) {
  if (Info.Compression == bcRLE8)
    ExpandRle<TByteRow>(Pixels, 8, Rows, Stride, Info.Width, Info.AbsHeight());
  else if (Info.Compression == bcRLE4)
    ExpandRle<TPixelRow>(Pixels, 4, Rows, Stride, Info.Width, Info.AbsHeight());
  else
    CopyRows(Info, Pixels, Rows, Stride);
}

void ExpandRlePixelByPixel(const TBmpInfo& Info, std::span<const std::uint8_t> Pixels, std::uint8_t* Rows,
                           std::ptrdiff_t Stride) {
  ExpandRle<TPixelRow>(Pixels, Info.BitsPerPixel, Rows, Stride, Info.Width, Info.AbsHeight());
}

TPixelView BmpPixelView(const TBmpInfo& Info, const std::vector<std::uint32_t>& ColorTable,
                        std::span<const std::uint8_t> Pixels, std::vector<std::uint8_t>& Storage) {
  TPixelView V;
  V.Width = static_cast<std::int32_t>(Info.Width);
  V.Height = static_cast<std::int32_t>(Info.AbsHeight());
  V.BitsPerPixel = Info.BitsPerPixel;
  V.Palette = ColorTable.data();
  V.PaletteSize = static_cast<int>(ColorTable.size());
  if (Info.Compression == bcBitFields) {
    V.RedMask = Info.Masks[0];
    V.GreenMask = Info.Masks[1];
    V.BlueMask = Info.Masks[2];
  }
  const std::size_t Row = BitmapRowSize(Info.Width, Info.BitsPerPixel);
  const std::size_t Need = Row * static_cast<std::size_t>(V.Height);
  if (!Info.Encoded() && Pixels.size() >= Need) {
    V.Stride = Info.TopDown() ? static_cast<std::ptrdiff_t>(Row) : -static_cast<std::ptrdiff_t>(Row);
    V.Bits = Info.TopDown() ? Pixels.data() : Pixels.data() + Row * static_cast<std::size_t>(V.Height - 1);
    return V;
  }
  Storage.assign(Need, 0);
  DecodeBmpPixels(Info, Pixels, Storage.data(), static_cast<std::ptrdiff_t>(Row));
  V.Bits = Storage.data();
  V.Stride = static_cast<std::ptrdiff_t>(Row);
  return V;
}

QImage BmpViewToImage(const TPixelView& View, const QRect& Part) {
  if (Part.isEmpty()) return QImage();
  QImage Img(Part.width(), Part.height(), QImage::Format_RGB32);
  if (Img.isNull()) return Img;
  StretchBlt(Img, TRect{0, 0, Part.width(), Part.height()}, nullptr, View,
             TRect{Part.left(), Part.top(), Part.right() + 1, Part.bottom() + 1});
  return Img;
}

namespace {

// A JPEG or PNG file carried as the pixels: its own header gives its size,
// which is checked before anything is decoded.
QImage EmbeddedImage(std::span<const std::uint8_t> Bits, const QRect& Want, bool KeepAlpha) {
  if (Bits.size() > INT_MAX) return QImage();
  QByteArray Data = QByteArray::fromRawData(reinterpret_cast<const char*>(Bits.data()), static_cast<qsizetype>(Bits.size()));
  QBuffer Buffer(&Data);
  Buffer.open(QIODevice::ReadOnly);
  QImageReader Reader(&Buffer);
  const QSize Size = Reader.size();
  if (Size.isEmpty()) return QImage();
  if (static_cast<std::uint64_t>(Size.width()) * static_cast<std::uint64_t>(Size.height()) > MaxPicturePixels)
    return QImage();
  const QImage Img = Reader.read();
  if (Img.isNull()) return Img;
  return Img.copy(Want).convertToFormat(KeepAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

// Alpha-blended bitmaps carry premultiplied alpha in the top byte of each
// 32-bit pixel; colour channels above their alpha would not be premultiplied
// and are limited to it.
void TakeAlpha(QImage& Img, const TPixelView& View, const QRect& Want) {
  for (int Y = 0; Y < Img.height(); ++Y) {
    const std::uint8_t* Src = View.Bits + (Want.top() + Y) * View.Stride + 4 * static_cast<std::ptrdiff_t>(Want.left());
    auto* Dst = reinterpret_cast<std::uint32_t*>(Img.scanLine(Y));
    for (int X = 0; X < Img.width(); ++X) {
      const std::uint32_t A = Src[4 * X + 3], P = Dst[X];
      const std::uint32_t R = std::min((P >> 16) & 0xFF, A), G = std::min((P >> 8) & 0xFF, A), B = std::min(P & 0xFF, A);
      Dst[X] = A << 24 | R << 16 | G << 8 | B;
    }
  }
  Img.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

QImage DecodeRecordBitmap(std::span<const std::uint8_t> InfoPart, std::span<const std::uint8_t> Bits,
                          const TColorEntries& Form, const QRect* Part, bool KeepAlpha, std::int32_t Rows) {
  try {
    TByteReader R(InfoPart);
    TBmpInfo Info = ReadBmpInfo(R);
    if (Rows > 0 && Rows < Info.AbsHeight()) Info.Height = Info.TopDown() ? -Rows : Rows;
    const bool Embedded = Info.Compression == bcJPEG || Info.Compression == bcPNG;
    if (Embedded) {
      // The header gives the size of the image, not its depth.
      TBmpInfo Shape = Info;
      Shape.BitsPerPixel = 24;
      Shape.Compression = bcRGB;
      if (!BmpLayoutSupported(Shape)) return QImage();
    } else if (!BmpLayoutSupported(Info)) {
      return QImage();
    }
    const QRect All(0, 0, static_cast<int>(Info.Width), static_cast<int>(Info.AbsHeight()));
    const QRect Want = Part ? Part->intersected(All) : All;
    if (Want.isEmpty()) return QImage();
    if (Embedded) return EmbeddedImage(Bits, Want, KeepAlpha);
    const std::uint64_t Claimed = static_cast<std::uint64_t>(Info.Width) * static_cast<std::uint64_t>(Info.AbsHeight());
    if (Claimed > (Bits.size() + 1) * MaxEmbeddedPixelsPerByte) return QImage();
    const std::vector<std::uint32_t> Table = ReadBmpColorTable(R, Info, Form);
    std::vector<std::uint8_t> Storage;
    const TPixelView View = BmpPixelView(Info, Table, BmpPixelBytes(Info, Bits), Storage);
    QImage Img = BmpViewToImage(View, Want);
    if (KeepAlpha && Info.BitsPerPixel == 32 && Info.Compression == bcRGB && !Img.isNull()) TakeAlpha(Img, View, Want);
    return Img;
  } catch (const EReadError&) {
    return QImage();
  }
}
