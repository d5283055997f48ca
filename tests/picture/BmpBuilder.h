// Byte builders for the picture tests: bitmap files, the bitmap images inside
// icon files, and icon files, written field by field in little endian; and a
// reader of the colours a bitmap holds.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "picture/Bitmap.h"

namespace bmptest {

using TBytes = std::vector<std::uint8_t>;
using TGrid = std::vector<std::vector<std::uint32_t>>;

inline TBytes Cut(TBytes B, std::size_t Keep) {
  B.resize(Keep);
  return B;
}

// The bitmap's colours (0x00RRGGBB), top row first.
inline TGrid ColorsOf(const TBitmap& B) {
  TGrid G(static_cast<std::size_t>(B.Height()));
  for (std::int32_t Y = 0; Y < B.Height(); ++Y)
    for (std::int32_t X = 0; X < B.Width(); ++X) G[static_cast<std::size_t>(Y)].push_back(B.View().PixelAt(X, Y));
  return G;
}

inline void PutLE(TBytes& B, std::uint64_t V, int Size) {
  for (int I = 0; I < Size; ++I) B.push_back(static_cast<std::uint8_t>(V >> (8 * I)));
}

// One row of pixel values (colour indices, or whole 16-, 24- or 32-bit values)
// packed at the given depth, most significant bits first, padded to 32 bits.
inline TBytes PackRow(int Bpp, const std::vector<std::uint32_t>& Values) {
  TBytes Row(((Values.size() * static_cast<std::size_t>(Bpp) + 31) / 32) * 4, 0);
  for (std::size_t X = 0; X < Values.size(); ++X) {
    const std::uint32_t V = Values[X];
    if (Bpp >= 8) {
      for (int K = 0; K < Bpp / 8; ++K) Row[X * static_cast<std::size_t>(Bpp / 8) + static_cast<std::size_t>(K)] = static_cast<std::uint8_t>(V >> (8 * K));
    } else {
      const std::size_t Bit = X * static_cast<std::size_t>(Bpp);
      Row[Bit / 8] |= static_cast<std::uint8_t>(V << (8 - Bpp - Bit % 8));
    }
  }
  return Row;
}

// Packs rows given top-down, storing them bottom-up unless TopDown.
inline TBytes PackRows(int Bpp, const std::vector<std::vector<std::uint32_t>>& Rows, bool TopDown) {
  TBytes Out;
  for (std::size_t I = 0; I < Rows.size(); ++I) {
    const TBytes R = PackRow(Bpp, Rows[TopDown ? I : Rows.size() - 1 - I]);
    Out.insert(Out.end(), R.begin(), R.end());
  }
  return Out;
}

// An info header of HeaderSize bytes (12: the core header), the masks after a
// 40-byte header when Masks is set, and the colour table.
struct TDib {
  std::uint32_t HeaderSize = 40;
  std::int32_t Width = 1;
  std::int32_t Height = 1;  // negative: top-down rows
  std::uint16_t Planes = 1;
  std::uint16_t Bpp = 24;
  std::uint32_t Compression = 0;
  std::optional<std::uint32_t> ImageSize;   // default: the size of Pixels
  std::optional<std::uint32_t> ColorsUsed;  // default: the table's size
  std::optional<std::array<std::uint32_t, 3>> Masks;
  std::vector<std::uint32_t> ColorTable;    // 0x00RRGGBB
  TBytes Pixels;                            // as stored

  TBytes HeaderAndTable() const {
    TBytes B;
    PutLE(B, HeaderSize, 4);
    if (HeaderSize == 12) {
      for (std::uint32_t V : {std::uint32_t(Width), std::uint32_t(Height), std::uint32_t(Planes), std::uint32_t(Bpp)})
        PutLE(B, V, 2);
    } else {
      // The fields of the 40-byte header, cut or padded with zeros to HeaderSize;
      // headers of 52 bytes and more carry the masks after them.
      PutLE(B, static_cast<std::uint32_t>(Width), 4);
      PutLE(B, static_cast<std::uint32_t>(Height), 4);
      PutLE(B, Planes, 2);
      PutLE(B, Bpp, 2);
      PutLE(B, Compression, 4);
      PutLE(B, ImageSize.value_or(static_cast<std::uint32_t>(Pixels.size())), 4);
      PutLE(B, 2835, 4);
      PutLE(B, 2835, 4);
      PutLE(B, ColorsUsed.value_or(static_cast<std::uint32_t>(ColorTable.size())), 4);
      PutLE(B, 0, 4);
      if (Masks && HeaderSize >= 52)
        for (std::uint32_t M : *Masks) PutLE(B, M, 4);
      B.resize(HeaderSize, 0);
      if (Masks && HeaderSize < 52)
        for (std::uint32_t M : *Masks) PutLE(B, M, 4);
    }
    for (std::uint32_t C : ColorTable) {
      PutLE(B, C, 3);
      if (HeaderSize != 12) B.push_back(0);
    }
    return B;
  }
};

// A bitmap file: the 14-byte file header, then the DIB; Gap bytes of 0xEE may
// separate the colour table from the pixels. The pixel offset defaults to
// where the pixels are.
struct TBmpFile {
  TDib Dib;
  std::uint16_t Type = 0x4D42;
  std::size_t Gap = 0;
  std::optional<std::uint32_t> PixelOffset;

  TBytes Bytes() const {
    const TBytes Head = Dib.HeaderAndTable();
    TBytes B;
    const std::size_t Start = 14 + Head.size() + Gap;
    PutLE(B, Type, 2);
    PutLE(B, Start + Dib.Pixels.size(), 4);
    PutLE(B, 0, 4);
    PutLE(B, PixelOffset.value_or(static_cast<std::uint32_t>(Start)), 4);
    B.insert(B.end(), Head.begin(), Head.end());
    B.insert(B.end(), Gap, 0xEE);
    B.insert(B.end(), Dib.Pixels.begin(), Dib.Pixels.end());
    return B;
  }
};

// The image of an icon entry in bitmap form: a 40-byte header whose height
// counts colour and mask rows, the colour table, the colour rows and the AND
// mask rows (1 = transparent), both given top-down.
inline TBytes IconDib(int Bpp, const std::vector<std::vector<std::uint32_t>>& Rows,
                      const std::vector<std::vector<std::uint32_t>>& MaskRows,
                      const std::vector<std::uint32_t>& ColorTable = {}) {
  TDib D;
  D.Width = static_cast<std::int32_t>(Rows.at(0).size());
  D.Height = 2 * static_cast<std::int32_t>(Rows.size());
  D.Bpp = static_cast<std::uint16_t>(Bpp);
  D.ColorTable = ColorTable;
  D.Pixels = PackRows(Bpp, Rows, false);
  const TBytes Mask = PackRows(1, MaskRows, false);
  D.Pixels.insert(D.Pixels.end(), Mask.begin(), Mask.end());
  TBytes B = D.HeaderAndTable();
  B.insert(B.end(), D.Pixels.begin(), D.Pixels.end());
  return B;
}

// A solid opaque 24-bit icon image of W x H pixels in colour 0x00RRGGBB.
inline TBytes SolidIconDib(int W, int H, std::uint32_t Rgb) {
  const std::vector<std::vector<std::uint32_t>> Rows(static_cast<std::size_t>(H),
                                                     std::vector<std::uint32_t>(static_cast<std::size_t>(W), Rgb));
  const std::vector<std::vector<std::uint32_t>> Mask(static_cast<std::size_t>(H),
                                                     std::vector<std::uint32_t>(static_cast<std::size_t>(W), 0));
  return IconDib(24, Rows, Mask);
}

// One directory entry of an icon file with its image.
struct TIcoEntry {
  int Width = 32;  // 256 is written as 0
  int Height = 32;
  std::uint16_t Colors = 0;  // the colour count byte and the reserved byte
  TBytes Image;
  std::optional<std::uint32_t> Offset;  // default: where the image is
  std::optional<std::uint32_t> Size;    // default: the image's size
};

inline TBytes IcoFile(const std::vector<TIcoEntry>& Entries, std::uint16_t Type = 1) {
  TBytes B;
  PutLE(B, 0, 2);
  PutLE(B, Type, 2);
  PutLE(B, Entries.size(), 2);
  std::size_t At = 6 + 16 * Entries.size();
  for (const TIcoEntry& E : Entries) {
    B.push_back(static_cast<std::uint8_t>(E.Width & 0xFF));
    B.push_back(static_cast<std::uint8_t>(E.Height & 0xFF));
    PutLE(B, E.Colors, 2);
    PutLE(B, 1, 2);
    PutLE(B, 32, 2);
    PutLE(B, E.Size.value_or(static_cast<std::uint32_t>(E.Image.size())), 4);
    PutLE(B, E.Offset.value_or(static_cast<std::uint32_t>(At)), 4);
    At += E.Image.size();
  }
  for (const TIcoEntry& E : Entries) B.insert(B.end(), E.Image.begin(), E.Image.end());
  return B;
}

}  // namespace bmptest
