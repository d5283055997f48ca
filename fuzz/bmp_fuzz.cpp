// Bitmap loading from arbitrary bytes: a load either raises one of the
// documented errors or gives a bitmap whose every pixel can be drawn.
#include <cstddef>
#include <cstdint>

#include <QImage>

#include "picture/Bitmap.h"
#include "picture/BmpFormat.h"
#include "toolkit/Exceptions.h"

namespace {

// Pictures up to MaxPicturePixels load, but each large one costs up to a
// second of zero-filling under the sanitizers and reaches no code a small one
// does not: those between 2^22 pixels and the limit are left out.
bool LargeButAllowed(const std::uint8_t* Data, std::size_t Size) {
  try {
    TByteReader R({Data, Size});
    R.Skip(14);
    const TBmpInfo I = ReadBmpInfo(R);
    const std::uint64_t Pixels = static_cast<std::uint64_t>(I.Width < 0 ? -I.Width : I.Width) *
                                 static_cast<std::uint64_t>(I.AbsHeight());
    return Pixels > (std::uint64_t{1} << 22) && Pixels <= MaxPicturePixels;
  } catch (const EReadError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (LargeButAllowed(Data, Size)) return 0;
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
