#include "picture/scaling/Pyramid.h"

#include <algorithm>

TReductionLevel TPyramid::LevelFor(const TPixelView& Source, std::int32_t DstW, std::int32_t DstH) {
  // A level holds means over whole cells, so resampling from it weighs a cell
  // that the target pixel covers only in part as if its pixels were all alike.
  // With at least four level pixels per target pixel on each axis that error
  // stays well under a level of brightness; a level of exactly the target's
  // size holds the exact means.
  // Levels of pixels read with another alpha are of no use.
  if (Source.Alpha != FAlpha) {
    FLevels.clear();
    FAlpha = Source.Alpha;
  }
  std::size_t K = 0;
  while (K < 30 && (std::int64_t{Source.Width} >> (K + 1)) >= 4 * std::int64_t{std::max(DstW, 1)} &&
         (std::int64_t{Source.Height} >> (K + 1)) >= 4 * std::int64_t{std::max(DstH, 1)})
    ++K;
  for (std::size_t E = K + 1; E < 31 && (std::int64_t{DstW} << E) <= Source.Width; ++E)
    if ((std::int64_t{DstW} << E) == Source.Width && (std::int64_t{DstH} << E) == Source.Height) K = E;
  if (FLevels.size() < K) {
    const TReductionLevel Above = FLevels.empty() ? TReductionLevel{Source, 1}
                                                  : TReductionLevel{FLevels.back().View, std::int32_t{1} << FLevels.size()};
    std::vector<TLevelMemory> Memory;
    std::int32_t W = Above.Pixels.Width, H = Above.Pixels.Height;
    const std::size_t Had = FLevels.size();
    try {
      while (FLevels.size() < K) {
        TLevel L;
        W = HalfSize(W);
        H = HalfSize(H);
        L.View = TPixelView{nullptr, std::ptrdiff_t{W} * 4, W, H, 32};
        L.View.Alpha = akPremultiplied;
        L.Memory = AllocatePixelMemory(static_cast<std::size_t>(L.View.Stride) * static_cast<std::size_t>(H));
        ++FAllocations;
        L.View.Bits = L.Memory.get();
        Memory.push_back(TLevelMemory{L.Memory.get(), L.View.Stride});
        FLevels.push_back(std::move(L));
      }
      HalveLevels(Above, Source.Width, Source.Height, Memory);
    } catch (...) {
      // No level is kept half made.
      FLevels.resize(Had);
      throw;
    }
  }
  if (K == 0) return TReductionLevel{Source, 1};
  return TReductionLevel{FLevels[K - 1].View, std::int32_t{1} << K};
}
