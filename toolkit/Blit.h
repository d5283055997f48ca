// Pixel copies between pixel buffers: the stretching that every canvas copy and
// every bitmap drawing goes through, nearest-neighbour or area-averaging.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "toolkit/Types.h"

class QImage;
class QRegion;

// What a 32-bit view's top byte holds.
enum TAlphaKind : std::uint8_t {
  akNone,           // nothing: every pixel is opaque
  akStraight,       // alpha, colours not multiplied by it (QImage's ARGB32)
  akPremultiplied,  // alpha, colours multiplied by it (the levels of a reduction pyramid)
};

// How a copy that shrinks the picture chooses the colour of a target pixel.
enum TResampling : std::uint8_t {
  rsNearest,  // the one source pixel under the target pixel's centre
  rsSmooth,   // the mean of the source pixels the target pixel covers, weighted by alpha
};

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
  // For 32 bits with the default masks: what the top byte holds.
  TAlphaKind Alpha = akNone;

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
  // rsSmooth averages areas on each axis that shrinks; an axis that keeps or
  // enlarges its size is sampled as with rsNearest (whole source pixels).
  // Ignored with a transparent colour, monochrome colours or halftoning.
  TResampling Resampling = rsNearest;
  // 32-bit sources with the default masks carry alpha in their top byte:
  // blend them over the target (straight alpha, or colours already
  // multiplied by it) instead of copying.
  enum TAlpha : std::uint8_t { alNone, alStraight, alPremultiplied };
  TAlpha Alpha = alNone;
};

// Copies SrcRect of Src into DstRect of the 32-bit image Dst, stretching with
// nearest-neighbour sampling: target offset d takes source offset
// floor((d + 0.5) * srcSize / dstSize) on each axis; or, with rsSmooth on an
// axis that shrinks, the source span [d, d + 1) * srcSize / dstSize, its pixels
// weighted by how much of them the span covers. Only target pixels inside
// Dst and inside Clip (when given) are written; target pixels whose source lies
// outside Src keep their colour. Sources with alpha are drawn over the target.
// Large copies use both cores.
void StretchBlt(QImage& Dst, const TRect& DstRect, const QRegion* Clip, const TPixelView& Src, const TRect& SrcRect,
                const TBlitOptions& Options = {});

// Fills R of the 32-bit image Dst with Pixel (0xAARRGGBB), within Clip when given.
void FillPixels(QImage& Dst, const TRect& R, const QRegion* Clip, std::uint32_t Pixel);

// A view of a 32-bit QImage.
TPixelView ViewOf(const QImage& Image);

// One level of a reduction pyramid of a W x H source: 32-bit premultiplied
// pixels, each the mean of the Step x Step source pixels it covers (fewer at the
// right and bottom edges when W or H is not a multiple of Step). Step 1 is the
// source itself, in any format.
struct TReductionLevel {
  TPixelView Pixels;
  std::int32_t Step = 1;
};

// The size of the level below one of the given size: half, rounded up.
inline std::int32_t HalfSize(std::int32_t Size) { return Size / 2 + Size % 2; }

// Builds levels below Above (a level of a SourceW x SourceH source), each from
// the one before, into the given memory (HalfSize of the one above on each
// axis, 32 bits a pixel). Means are rounded to nearest, ties to even, so that
// repeated halving does not drift. Rows of the deeper levels are made while the
// rows they come from are still in the processor's cache.
struct TLevelMemory {
  std::uint8_t* Bits;
  std::ptrdiff_t Stride;
};
void HalveLevels(const TReductionLevel& Above, std::int32_t SourceW, std::int32_t SourceH,
                 const std::vector<TLevelMemory>& Dsts);

// StretchBlt with rsSmooth from a level of a SourceW x SourceH source: SrcRect
// is in source pixels; the result is the area mean over the source, as if it
// were computed from the source itself.
void SmoothStretchBlt(QImage& Dst, const TRect& DstRect, const QRegion* Clip, const TReductionLevel& Level,
                      std::int32_t SourceW, std::int32_t SourceH, const TRect& SrcRect);

// Row conversion of 24-bit blue, green, red pixels to opaque 0xFFRRGGBB: the
// one the processor runs best (AVX2 or SSSE3 shuffles where present), the plain
// one, and every one this processor can run (the plain one first).
void ConvertRow24(std::uint32_t* Out, const std::uint8_t* In, std::int32_t N);
void ConvertRow24Scalar(std::uint32_t* Out, const std::uint8_t* In, std::int32_t N);
using TConvertRow24 = void (*)(std::uint32_t* Out, const std::uint8_t* In, std::int32_t N);
std::vector<TConvertRow24> ConvertRow24Variants();

// Swaps the first and third byte of each of N 3-byte pixels in place (red,
// green, blue rows of decoders into the bitmap's blue, green, red), with the
// processor's best variant; every variant this processor can run, the plain
// one first.
void SwapRedBlue24(std::uint8_t* Row, std::int32_t N);
using TSwapRedBlue24 = void (*)(std::uint8_t* Row, std::int32_t N);
std::vector<TSwapRedBlue24> SwapRedBlue24Variants();
