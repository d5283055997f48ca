// Device-independent bitmaps: the one reader of their parts for every place
// that holds one (bitmap files, icon and cursor images, metafile records): the
// info header of any size with its colour masks, the colour table, the pixel
// bytes, the run-length encoded pixels, and the conversion into a 32-bit image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <QImage>
#include <QRect>

#include "picture/Limits.h"
#include "toolkit/Blit.h"
#include "toolkit/ByteReader.h"

enum TBmpCompression : std::uint32_t {
  bcRGB = 0, bcRLE8 = 1, bcRLE4 = 2, bcBitFields = 3,
  bcJPEG = 4, bcPNG = 5  // a whole JPEG or PNG file as the pixels (metafile records only)
};

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
  bool Encoded() const { return Compression == bcRLE8 || Compression == bcRLE4; }
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

// Entries of the colour table that follows the header: the used-colours count,
// or 2, 16 or 256 for 1, 4 and 8 bits per pixel when that is 0.
std::uint64_t BmpColorCount(const TBmpInfo& Info);

// How the entries of the colour table are stored: colours (3 bytes after a core
// header, 4 otherwise), or, in metafile records, 16-bit indices into the
// palette selected at the time (0x00RRGGBB; none: the default colours).
struct TColorEntries {
  bool PaletteIndices = false;
  const std::vector<std::uint32_t>* Palette = nullptr;
};
std::size_t BmpColorEntrySize(const TBmpInfo& Info, const TColorEntries& Form = {});

// Reads the colour table. All entries are passed over; at most as many as the
// depth can index (256 above 8 bits) are kept, as 0x00RRGGBB. Raises EReadError
// when the table runs past the end.
std::vector<std::uint32_t> ReadBmpColorTable(TByteReader& R, const TBmpInfo& Info, const TColorEntries& Form = {});

// The bytes that hold the pixels, out of the bytes that follow the colour table
// (or the gap after it): for uncompressed rows the row size x |height|, for
// encoded data the header's image size, or all of them when that is 0; in any
// case no more than there are.
std::span<const std::uint8_t> BmpPixelBytes(const TBmpInfo& Info, std::span<const std::uint8_t> Rest);

// Puts the pixels into top-down rows of Stride bytes in the bitmap's own
// format. Uncompressed rows are copied in file order; rows the data does not
// reach, and the rest of a row it ends in, become zero. Encoded data is
// expanded into rows that the caller zero-filled: pixels that runs put past the
// right edge are dropped, and decoding stops at the end-of-bitmap code, at the
// top row, or where the data ends, keeping the pixels of a run cut short.
void DecodeBmpPixels(const TBmpInfo& Info, std::span<const std::uint8_t> Pixels, std::uint8_t* Rows,
                     std::ptrdiff_t Stride);

// Run-length data expanded one pixel at a time, as 4-bit data always is;
// 8-bit data is filled and copied a run at a time, and must come out the same.
void ExpandRlePixelByPixel(const TBmpInfo& Info, std::span<const std::uint8_t> Pixels, std::uint8_t* Rows,
                           std::ptrdiff_t Stride);

// A top-down view of the pixels of a bitmap of a supported layout, in its own
// format (encoded data expanded to its depth), with the colour table and masks. Complete
// uncompressed rows are viewed where they are; otherwise the decoded rows are
// kept in Storage, which must outlive the view.
TPixelView BmpPixelView(const TBmpInfo& Info, const std::vector<std::uint32_t>& ColorTable,
                        std::span<const std::uint8_t> Pixels, std::vector<std::uint8_t>& Storage);

// The Part of the view (in its pixel coordinates) as a 32-bit RGB image; a null
// image when the part is empty or memory runs out.
QImage BmpViewToImage(const TPixelView& View, const QRect& Part);

// A bitmap of a metafile record: its info part (header, masks and colour
// table) and its bits are given apart. The image of its Part, RGB32 (or
// premultiplied ARGB32 from the alpha bytes of a 32-bit bitmap, KeepAlpha);
// a null image when the bitmap is not sound: a layout that BmpLayoutSupported
// refuses, parts that end early, more than MaxEmbeddedPixelsPerByte pixels per
// byte of bits, or an embedded JPEG or PNG file of more than MaxPicturePixels.
// Rows > 0: the bits hold only that many rows, the first stored row first (a
// band of scans sent to the device).
QImage DecodeRecordBitmap(std::span<const std::uint8_t> InfoPart, std::span<const std::uint8_t> Bits,
                          const TColorEntries& Form, const QRect* Part = nullptr, bool KeepAlpha = false,
                          std::int32_t Rows = 0);
