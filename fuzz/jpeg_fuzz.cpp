// Loads the input as a JPEG graphic and draws it four times: small, which
// decodes a draft at 1/8, at a quarter of its size, which decodes a draft at
// 1/4 (both on two threads when the file allows, whatever its size), at the
// picture's size, which decodes the whole picture, and small again, which
// draws the kept bitmap. The input's
// last byte also picks the decode settings, so that every decoding path is
// reached.
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "picture/jpeg/Jpeg.h"
#include "picture/jpeg/JpegSplitDecode_p.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  JpegSplitSettings() = {true, 0.5, 0, true};
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::vector<std::uint8_t> Bytes(Data, Data + Size);
  TJPEGImage J;
  const std::uint8_t Pick = Size ? Data[Size - 1] : 0;
  J.SetPixelFormat(Pick & 1 ? jf8Bit : jf24Bit);
  J.SetForceGrayscale(Pick & 2);
  J.SetPerformance(Pick & 4 ? jpBestSpeed : jpBestQuality);
  J.SetScale(static_cast<TJPEGScale>((Pick >> 3) & 3));
  J.SetProgressiveDisplay(Pick & 32);
  J.SetSmoothing(!(Pick & 64));
  J.SetAutoOrientation(!(Pick & 128));
  // A clock that always lets progress through, with a handler that draws the
  // partly decoded bitmap as a view would.
  std::uint64_t Clock = 0;
  J.SetTickSource([&Clock] { return Clock += 500; });
  TBitmap Target(4, 4);
  J.OnProgress = [&](TObject*, TProgressStage, std::uint8_t, bool Redraw, const TRect&, const std::string&) {
    if (Redraw) J.DrawInto(Target.Canvas(), Rect(0, 0, 4, 4));
  };
  try {
    auto S = TMemoryStream::Over(Bytes);
    J.LoadFromStream(*S);
    // Huge pictures take seconds to decode and teach the fuzzer nothing new.
    if (std::int64_t{J.Width()} * J.Height() > (std::int64_t{1} << 22)) return 0;
  } catch (const Exception&) {
    return 0;
  }
  const TRect Sizes[] = {Rect(0, 0, 4, 4), Rect(0, 0, J.Width() / 4, J.Height() / 4), Rect(0, 0, J.Width(), J.Height()),
                         Rect(0, 0, 4, 4)};
  for (const TRect& R : Sizes) {
    try {
      J.DrawInto(Target.Canvas(), R);
    } catch (const Exception&) {
    }
  }
  return 0;
}
