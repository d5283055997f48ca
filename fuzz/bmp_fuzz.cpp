// Bitmap loading from arbitrary bytes: a load either raises one of the
// documented errors or gives a bitmap whose every pixel can be drawn.
#include <cstddef>
#include <cstdint>

#include <QImage>

#include "BmpFuzzSupport.h"
#include "picture/Bitmap.h"
#include "toolkit/Exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (LargeButAllowedBitmap({Data, Size})) return 0;
  auto S = TMemoryStream::Over({Data, Size});
  TBitmap B;
  try {
    B.LoadFromStream(*S);
  } catch (const EReadError&) {
    return 0;
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  if (B.Empty()) return 0;
  // Drawn into at most 64 x 64 pixels: small pictures are read whole, larger
  // ones sampled across their whole area.
  const std::int32_t W = B.Width() <= 64 ? B.Width() : 64, H = B.Height() <= 64 ? B.Height() : 64;
  QImage Target(W, H, QImage::Format_RGB32);
  StretchBlt(Target, TRect{0, 0, W, H}, nullptr, B.View(), TRect{0, 0, B.Width(), B.Height()});
  return 0;
}
