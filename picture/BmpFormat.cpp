#include "picture/BmpFormat.h"

#include <algorithm>
#include <array>
#include <cstring>

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

std::vector<std::uint32_t> ReadBmpColorTable(TByteReader& R, const TBmpInfo& Info) {
  const int Bpp = Info.BitsPerPixel;
  const std::uint64_t Count = Info.ColorsUsed ? Info.ColorsUsed : (Bpp <= 8 ? std::uint64_t{1} << Bpp : 0);
  const std::size_t EntrySize = Info.CoreHeader() ? 3 : 4;
  // Count is below 2^32, so the byte count cannot overflow; Bytes raises when
  // the table runs past the end, before anything is allocated.
  const auto Raw = R.Bytes(static_cast<std::size_t>(Count * EntrySize));
  const std::uint64_t Keep = std::min<std::uint64_t>(Count, Bpp <= 8 ? std::uint64_t{1} << Bpp : 256);
  std::vector<std::uint32_t> Table(static_cast<std::size_t>(Keep));
  for (std::size_t I = 0; I < Table.size(); ++I) {
    const std::uint8_t* E = Raw.data() + I * EntrySize;
    Table[I] = (std::uint32_t{E[2]} << 16) | (std::uint32_t{E[1]} << 8) | E[0];
  }
  return Table;
}

namespace {

// Writes decoded pixels into one top-down row, dropping those past the right edge.
class TRleRow {
 public:
  TRleRow(std::uint8_t* Row, int Bpp, std::int64_t Width) : FRow(Row), FBpp(Bpp), FWidth(Width) {}

  void Put(std::int64_t X, std::uint8_t Index) const {
    if (X >= FWidth) return;
    if (FBpp == 8) {
      FRow[X] = Index;
      return;
    }
    std::uint8_t& B = FRow[X >> 1];
    B = (X & 1) ? static_cast<std::uint8_t>((B & 0xF0) | Index) : static_cast<std::uint8_t>((B & 0x0F) | (Index << 4));
  }

 private:
  std::uint8_t* FRow;
  int FBpp;
  std::int64_t FWidth;
};

// The I-th pixel of a run: RLE8 repeats its byte; RLE4 alternates the byte's
// high and low nibbles, high first.
inline std::uint8_t RunPixel(std::uint8_t V, int Bpp, unsigned I) {
  if (Bpp == 8) return V;
  return (I & 1) ? (V & 0x0F) : (V >> 4);
}

}  // namespace

void DecodeBmpRle(std::span<const std::uint8_t> Data, int BitsPerPixel, std::uint8_t* Bits, std::ptrdiff_t Stride,
                  std::int32_t Width, std::int32_t Height) {
  TByteReader R(Data);
  std::int64_t X = 0, Y = 0;  // Y counts rows from the bottom
  while (Y < Height && R.Remaining() >= 2) {
    const TRleRow Row(Bits + (Height - 1 - Y) * Stride, BitsPerPixel, Width);
    const std::uint8_t N = R.U8();
    const std::uint8_t V = R.U8();
    if (N > 0) {
      for (unsigned I = 0; I < N; ++I) Row.Put(X + I, RunPixel(V, BitsPerPixel, I));
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
        if (R.Remaining() < 2) return;
        X += R.U8();
        Y += R.U8();
        break;
      default: {
        // Absolute run of V pixels, padded to a whole 16-bit word.
        const std::size_t Bytes = BitsPerPixel == 8 ? V : (V + 1u) / 2;
        const auto Run = R.BytesUpTo((Bytes + 1) & ~std::size_t{1});
        for (unsigned I = 0; I < V; ++I) {
          const std::size_t At = BitsPerPixel == 8 ? I : I / 2;
          if (At >= Run.size()) return;
          Row.Put(X + I, RunPixel(Run[At], BitsPerPixel, I));
        }
        X += V;
      }
    }
  }
}
