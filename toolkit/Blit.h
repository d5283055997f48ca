// Pixel copies between pixel buffers: the nearest-neighbour stretching that every
// canvas copy and every bitmap drawing goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "toolkit/Types.h"

class QImage;
class QRegion;

// A read-only view of pixels in one of the bitmap formats: 1, 4, 8 bits per pixel
// with a colour table, 16 or 32 bits with colour masks, 24 bits as blue, green,
// red bytes. Rows follow each other at Stride bytes, the top row first.
struct TPixelView {
  const std::uint8_t* Bits = nullptr;
  std::ptrdiff_t Stride = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  int BitsPerPixel = 32;
  // Colour table for 1, 4 and 8 bits: 0x00RRGGBB entries.
  const std::uint32_t* Palette = nullptr;
  int PaletteSize = 0;
  // Colour masks for 16 and 32 bits. Zero masks mean the defaults: 5-5-5 for 16
  // bits and 8-8-8 (0x00RRGGBB, the top byte ignored) for 32 bits.
  std::uint32_t RedMask = 0;
  std::uint32_t GreenMask = 0;
  std::uint32_t BlueMask = 0;

  // The colour of one pixel as 0x00RRGGBB.
  std::uint32_t PixelAt(std::int32_t X, std::int32_t Y) const;
};

struct TBlitOptions {
  // Source pixels of this colour (0x00RRGGBB) leave the target unchanged.
  std::optional<std::uint32_t> TransparentColor;
  // Colours for the 0 and 1 bits of a monochrome source without a colour table,
  // and the colour table of a monochrome source is replaced by them.
  std::optional<std::uint32_t> MonoForeground;  // 0 bits
  std::optional<std::uint32_t> MonoBackground;  // 1 bits
  // Average the source pixels under each target pixel instead of picking one
  // (used for targets of 8 bits per pixel or fewer).
  bool Halftone = false;
  // 32-bit sources with the default masks carry alpha in their top byte:
  // blend them over the target (straight alpha, or colours already
  // multiplied by it) instead of copying.
  enum TAlpha : std::uint8_t { alNone, alStraight, alPremultiplied };
  TAlpha Alpha = alNone;
};

// Copies SrcRect of Src into DstRect of the 32-bit image Dst, stretching with
// nearest-neighbour sampling: target offset d takes source offset
// floor((d + 0.5) * srcSize / dstSize) on each axis. Only target pixels inside
// Dst and inside Clip (when given) are written; target pixels whose source lies
// outside Src keep their colour. Large copies use both cores.
void StretchBlt(QImage& Dst, const TRect& DstRect, const QRegion* Clip, const TPixelView& Src, const TRect& SrcRect,
                const TBlitOptions& Options = {});

// Fills R of the 32-bit image Dst with Pixel (0xAARRGGBB), within Clip when given.
void FillPixels(QImage& Dst, const TRect& R, const QRegion* Clip, std::uint32_t Pixel);

// A view of a 32-bit QImage.
TPixelView ViewOf(const QImage& Image);
