// Area averaging straight from an opaque picture into a target in one pass:
// every source byte is read once, each group of source rows under a target row
// is summed with exact whole-number weights, and the sums are weighed across
// into the target's pixels. Used for the first smooth drawing of a picture,
// which then needs no reduction pyramid.
#pragma once

#include <cstdint>
#include <vector>

#include "toolkit/Blit.h"

class QImage;
class QRegion;

// The source pixels each target pixel of a row weighs, as offsets into the
// row's sums, every pixel with the same number of taps (the missing ones of
// weight 0 at the following pixels).
struct TColumnTaps {
  int Channels = 3;                  // sums per source pixel (the first three are weighed)
  std::int32_t N = 0;                // target pixels
  int Taps = 1;                      // weights per target pixel
  std::vector<std::int32_t> Offset;  // of the first source pixel's sums; -1: the target pixel is left alone
  std::vector<float> Weight;         // Taps per target pixel, summing to 1
  // The weights of target pixels 2J and 2J + 1 side by side, Taps times
  // eight floats per pair: four copies of each.
  std::vector<float> PairWeight;
  std::vector<std::uint8_t> Whole;  // per eight target pixels: none left alone
  std::size_t SumsSize = 0;         // floats the sums must hold, zero past the row
};

// The two stages of the pass, one variant each.
struct TAreaMeanKernel {
  // Out[B] = sum over I < N of Weights[I] * Rows[I][B], for B < Bytes (Acc is
  // scratch of Bytes 32-bit words). Exact: the weights are whole numbers.
  void (*SumRows)(const std::uint8_t* const* Rows, const std::int32_t* Weights, std::int32_t N, std::int32_t Bytes,
                  std::int32_t* Acc, float* Out);
  // Out[I] = 0xFF000000 | the colour of target pixel I of X, for I in [From,
  // To): its sums weighed, times Scale, rounded and clamped to a byte per channel.
  void (*WeighColumns)(const float* Sums, const TColumnTaps& X, std::int32_t From, std::int32_t To, float Scale,
                       std::uint32_t* Out);
};

// The variants this processor can run, the plain one first and the best last.
std::vector<TAreaMeanKernel> AreaMeanKernels();

// One row of a quartering from four rows of 24-bit blue, green, red pixels:
// Out[I] is the mean of the 4 x 4 pixels 4I .. 4I + 3 of the rows, per channel,
// rounded to nearest with ties to even, and opaque. Reads only the 12 N bytes
// of each row. Every variant this processor can run, plain first, best last.
using TQuarterRow24 = void (*)(const std::uint8_t* const* Rows, std::int32_t N, std::uint32_t* Out);
std::vector<TQuarterRow24> QuarterRow24Variants();

// Whether AreaMeanBlt can draw from Src into a target of DstW x DstH: 24-bit
// pixels, or 32-bit ones with the default masks and no alpha, and sizes whose
// weights fit its whole-number sums.
bool AreaMeanFits(const TPixelView& Src, const TRect& SrcRect, std::int32_t DstW, std::int32_t DstH);

// Draws SrcRect of Src into DstRect of the 32-bit image Dst with area
// averaging on each axis that shrinks (the pixel under the target pixel's
// centre on an axis that does not), within Clip when given: the same result
// as SmoothStretchBlt from the source itself, computed without a pyramid.
// Without a Kernel, the whole picture shown at exactly a half, a quarter, ...
// of its size (inside Dst and the clip) is made by halving, as the pyramid's
// level of that size would be. Large targets use both cores. Kernel chooses
// the variant (the processor's best when null). Does nothing unless AreaMeanFits.
void AreaMeanBlt(QImage& Dst, const TRect& DstRect, const QRegion* Clip, const TPixelView& Src, const TRect& SrcRect,
                 const TAreaMeanKernel* Kernel = nullptr);
