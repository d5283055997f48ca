// Device-independent bitmaps inside metafile records: the header and colour
// table (BITMAPINFO) and the pixel bits are given apart, as the records carry them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include <QImage>
#include <QRect>

struct TDibSource {
  std::span<const std::uint8_t> Info;  // header and colour table
  std::span<const std::uint8_t> Bits;
  // With colour table entries that are 16-bit palette indices: the palette
  // they index (0x00RRGGBB), or empty for the default colours.
  bool PaletteIndices = false;
  const std::vector<std::uint32_t>* Palette = nullptr;
  // The bits hold only this many rows (0: all the header's rows), the first
  // stored row first; for bitmaps sent to the device a band of scans at a time.
  std::int32_t Rows = 0;
};

struct TDibInfo {
  std::int32_t Width = 0, Height = 0;  // Height > 0
  bool BottomUp = true;
};

// Reads only the header: the size, and whether rows are stored bottom-up.
// Returns false for a header that is not sound.
bool ReadDibInfo(std::span<const std::uint8_t> Info, TDibInfo& Out);

// Decodes the part Source of the bitmap (in top-down pixel coordinates; the
// whole bitmap when null) into a 32-bit image: RGB32, or premultiplied ARGB32
// for a 32-bit bitmap when KeepAlpha is set. A null image when the bitmap is
// not sound: a bad header, more than MaxPicturePixels pixels, or fewer bits
// than the header promises. Run-length-encoded bitmaps are refused when they
// claim more than 1024 pixels per byte of data.
QImage DecodeDib(const TDibSource& Source, const QRect* Part = nullptr, bool KeepAlpha = false);
