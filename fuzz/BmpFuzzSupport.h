// Bitmaps of up to MaxPicturePixels load, but each large one costs up to a
// second of zero-filling under the sanitizers and reaches no code a small one
// does not: the fuzz targets leave out those between 2^16 pixels and the limit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/Dib.h"

// Whether the bitmap file in Bytes declares such a large but allowed picture.
inline bool LargeButAllowedBitmap(std::span<const std::uint8_t> Bytes) {
  try {
    TByteReader R(Bytes);
    R.Skip(14);
    const TBmpInfo I = ReadBmpInfo(R);
    const std::uint64_t Pixels = static_cast<std::uint64_t>(I.Width < 0 ? -I.Width : I.Width) *
                                 static_cast<std::uint64_t>(I.AbsHeight());
    return Pixels > (std::uint64_t{1} << 16) && Pixels <= MaxPicturePixels;
  } catch (const EReadError&) {
    return false;
  }
}
