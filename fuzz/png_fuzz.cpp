// Loads the input as a PNG graphic and draws it twice: the first drawing
// decodes, the second draws the kept picture. The input's last byte chooses
// progressive display, so that interlaced files take both paths.
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "picture/png/Png.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::vector<std::uint8_t> Bytes(Data, Data + Size);
  TPngImage P;
  P.SetProgressiveDisplay(Size && (Data[Size - 1] & 1));
  // A clock that always lets progress through, with a handler that draws the
  // partly decoded picture as a view would.
  std::uint64_t Clock = 0;
  P.SetTickSource([&Clock] { return Clock += 500; });
  TBitmap Target(4, 4);
  P.OnProgress = [&](TObject*, TProgressStage, std::uint8_t, bool Redraw, const TRect&, const std::string&) {
    if (Redraw) P.DrawInto(Target.Canvas(), Rect(0, 0, 4, 4));
  };
  try {
    auto S = TMemoryStream::Over(Bytes);
    P.LoadFromStream(*S);
    // Huge pictures take seconds to decode and teach the fuzzer nothing new.
    if (std::int64_t{P.Width()} * P.Height() > (std::int64_t{1} << 22)) return 0;
  } catch (const Exception&) {
    return 0;
  }
  for (int I = 0; I < 2; ++I) {
    try {
      P.DrawInto(Target.Canvas(), Rect(0, 0, 4, 4));
    } catch (const Exception&) {
    }
  }
  return 0;
}
