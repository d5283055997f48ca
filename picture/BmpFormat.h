// The parts of the bitmap format that bitmap files and the images inside icon
// files share: the info header with its colour masks, the colour table, and the
// run-length encoded pixel data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "toolkit/ByteReader.h"

enum TBmpCompression : std::uint32_t { bcRGB = 0, bcRLE8 = 1, bcRLE4 = 2, bcBitFields = 3 };

// An info header of any size, widened to the fields of the 40-byte form.
struct TBmpInfo {
  std::uint32_t HeaderSize = 0;
  std::int64_t Width = 0;
  std::int64_t Height = 0;  // negative: the rows are stored top-down
  std::uint16_t Planes = 0;
  std::uint16_t BitsPerPixel = 0;
  std::uint32_t Compression = bcRGB;
  std::uint32_t ImageSize = 0;
  std::uint32_t ColorsUsed = 0;
  // Red, green and blue masks; only read for bit-field compression.
  std::uint32_t Masks[3] = {0, 0, 0};

  bool CoreHeader() const { return HeaderSize == 12; }
  bool TopDown() const { return Height < 0; }
  std::int64_t AbsHeight() const { return Height < 0 ? -Height : Height; }
};

// Reads the info header starting at its size field. A 12-byte core header is
// widened; a header shorter than 40 bytes has its missing fields zero. With bit
// fields the masks are taken from a header of 52 bytes or more, and otherwise
// read from the three words that follow the header. Raises EReadError when the
// bytes end inside the header or the masks.
TBmpInfo ReadBmpInfo(TByteReader& R);

// Whether pixels of this layout can be held: one plane; 1, 4, 8, 16, 24 or 32
// bits per pixel; run-length encoding only for 8 and 4 bits and bottom-up rows;
// bit fields only for 16 and 32 bits; a width and height of at least one pixel
// and no more than MaxPicturePixels pixels.
bool BmpLayoutSupported(const TBmpInfo& Info);

// Reads the colour table that follows the header: the used-colours count of
// entries, or 2, 16 or 256 for 1, 4 and 8 bits per pixel when that is 0.
// Entries are 3 bytes after a core header, 4 otherwise. All entries are passed
// over; at most as many as the depth can index (256 above 8 bits) are kept, as
// 0x00RRGGBB. Raises EReadError when the table runs past the end.
std::vector<std::uint32_t> ReadBmpColorTable(TByteReader& R, const TBmpInfo& Info);

// Decodes run-length encoded pixels (BitsPerPixel 8 for RLE8, 4 for RLE4) into
// top-down rows of Stride bytes that the caller zero-filled; the encoded rows
// run bottom-up. Pixels that runs put past the right edge are dropped; decoding
// stops at the end-of-bitmap code, at the top row, or where the data ends.
void DecodeBmpRle(std::span<const std::uint8_t> Data, int BitsPerPixel, std::uint8_t* Bits, std::ptrdiff_t Stride,
                  std::int32_t Width, std::int32_t Height);
