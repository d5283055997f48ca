// The fuzz targets of the graphics decoded at their first drawing (PNG, GIF,
// WebP, TIFF, AVIF, HEIF): load the input as a graphic of one class and draw
// it twice (the first drawing decodes, the second draws the kept picture),
// with a clock that lets every progress notification through and a handler
// that draws the partly decoded picture as a view would; an animation then
// plays a few frames on a hand-driven timer, each drawn. The input's last byte
// chooses progressive display (bit 0) and turns the orientation off (bit 1),
// so that every row path is reached.
#pragma once

#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "picture/decoding/DecodedGraphic.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Timer.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  return 0;
}

template <class T>
int FuzzDecodedGraphic(const std::uint8_t* Data, std::size_t Size) {
  static TManualTimerScheduler Timers;
  SetTimerScheduler(&Timers);
  const std::vector<std::uint8_t> Bytes(Data, Data + Size);
  const std::uint8_t Last = Size ? Data[Size - 1] : 0;
  T G;
  G.SetProgressiveDisplay(Last & 1);
  G.SetAutoOrientation(!(Last & 2));
  std::uint64_t Clock = 0;
  G.SetTickSource([&Clock] { return Clock += 500; });
  TBitmap Target(4, 4);
  const auto Draw = [&] { G.DrawInto(Target.Canvas(), Rect(0, 0, 4, 4)); };
  G.OnProgress = [&](TObject*, TProgressStage, std::uint8_t, bool Redraw, const TRect&, const std::string&) {
    if (Redraw) Draw();
  };
  G.OnFrame = [&](TObject*, const TRect&) { Draw(); };
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
      Draw();
    } catch (const Exception&) {
    }
  }
  for (int I = 0; I < 8 && G.Animating(); ++I) Timers.Advance(1000);
  return 0;
}
