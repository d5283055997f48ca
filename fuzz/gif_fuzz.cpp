// Loads the input as a GIF graphic, draws it (which decodes the frames) and
// plays a few frames of an animation on a hand-driven clock, drawing each.
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "picture/gif/Gif.h"
#include "toolkit/Timer.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static TManualTimerScheduler Clock;
  SetTimerScheduler(&Clock);
  const std::vector<std::uint8_t> Bytes(Data, Data + Size);
  TGifImage G;
  TBitmap Target(4, 4);
  try {
    auto S = TMemoryStream::Over(Bytes);
    G.LoadFromStream(*S);
    if (std::int64_t{G.Width()} * G.Height() > (std::int64_t{1} << 22)) return 0;
  } catch (const Exception&) {
    return 0;
  }
  G.OnFrame = [&](TObject*, const TRect&) { G.DrawInto(Target.Canvas(), Rect(0, 0, 4, 4)); };
  try {
    G.DrawInto(Target.Canvas(), Rect(0, 0, 4, 4));
  } catch (const Exception&) {
  }
  for (int I = 0; I < 8 && G.Animating(); ++I) Clock.Advance(1000);
  return 0;
}
