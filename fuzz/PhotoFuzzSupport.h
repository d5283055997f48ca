// The fuzz targets of the photographic formats: load the input as a graphic
// of one class and draw it twice (the first drawing decodes, the second draws
// the kept bitmap), with a clock that lets every progress notification through
// and a handler that draws the partly decoded picture as a view would. The
// input's last byte turns the orientation off, so both row paths are reached.
#pragma once

#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "picture/PhotoGraphic.h"
#include "toolkit/Exceptions.h"

template <class T>
int FuzzPhotoGraphic(const std::uint8_t* Data, std::size_t Size) {
  const std::vector<std::uint8_t> Bytes(Data, Data + Size);
  T G;
  G.SetAutoOrientation(!(Size && (Data[Size - 1] & 1)));
  std::uint64_t Clock = 0;
  G.SetTickSource([&Clock] { return Clock += 500; });
  TBitmap Target(4, 4);
  G.OnProgress = [&](TObject*, TProgressStage, std::uint8_t, bool Redraw, const TRect&, const std::string&) {
    if (Redraw) G.DrawInto(Target.Canvas(), Rect(0, 0, 4, 4));
  };
  try {
    auto S = TMemoryStream::Over(Bytes);
    G.LoadFromStream(*S);
    // Huge pictures take seconds to decode and teach the fuzzer nothing new.
    if (std::int64_t{G.Width()} * G.Height() > (std::int64_t{1} << 22)) return 0;
  } catch (const Exception&) {
    return 0;
  }
  for (int I = 0; I < 2; ++I) {
    try {
      G.DrawInto(Target.Canvas(), Rect(0, 0, 4, 4));
    } catch (const Exception&) {
    }
  }
  return 0;
}
