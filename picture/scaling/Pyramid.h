// The reduction pyramid of a bitmap: halvings of its pixels, each level the
// area mean of the one above, built once and drawn from when the picture is
// shown smaller than its size.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/Bitmap.h"
#include "toolkit/Blit.h"

class TPyramid {
 public:
  explicit TPyramid(std::uint64_t Version) : FVersion(Version) {}

  // The level to draw Source (the bitmap's own pixels) from into a target of
  // DstW x DstH: the smallest level at least four times as large as the target
  // on both axes, or one of exactly the target's size. Levels are built on
  // first need, each from the one above; level 0 is the source itself.
  TReductionLevel LevelFor(const TPixelView& Source, std::int32_t DstW, std::int32_t DstH);

  // Drops the levels: the bitmap's pixels changed to the given version.
  void Reset(std::uint64_t Version) {
    FLevels.clear();
    FVersion = Version;
  }
  // The bitmap version the levels were built from.
  std::uint64_t Version() const { return FVersion; }
  // Levels built below the source.
  std::size_t LevelCount() const { return FLevels.size(); }
  // How many times a level had to allocate memory, over all versions.
  std::uint64_t AllocationCount() const { return FAllocations; }

 private:
  struct TLevel {
    TPixelMemory Memory;
    TPixelView View;
  };
  std::uint64_t FVersion;
  TAlphaKind FAlpha = akNone;  // how the source's pixels were read into the levels
  std::vector<TLevel> FLevels;  // FLevels[K] is level K + 1
  std::uint64_t FAllocations = 0;
};
