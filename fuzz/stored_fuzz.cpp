// Reading the stored picture form from arbitrary bytes: either a documented
// error, or a picture whose stored form, read back, writes the same bytes again
// and which draws. Every graphic class of the program is registered, the JPEG
// graphic included, so that stored JPEG data is decoded too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "BmpFuzzSupport.h"
#include "FuzzSupport.h"
#include "picture/icon/Icon.h"
#include "picture/jpeg/Jpeg.h"
#include "toolkit/Exceptions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  InitializeJpegSupport();
  return 0;
}

namespace {

std::vector<std::uint8_t> Stored(const TPicture& P) {
  TMemoryStream S;
  P.WriteStored(S);
  return S.TakeBytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  // A stored bitmap: the name "TBitmap", a 32-bit length, the bitmap file.
  if (Size > 12 && std::memcmp(Data, "\x07TBitmap", 8) == 0 && LargeButAllowedBitmap({Data + 12, Size - 12}))
    return 0;
  auto S = TMemoryStream::Over({Data, Size});
  TPicture P;
  if (!Completes(TErrors<Exception>{}, [&] { P.ReadStored(*S); })) return 0;
  TGraphic* G = P.Graphic();
  if (!G) return 0;
  // Bitmaps, icons and JPEG images keep everything their stored form holds.
  if (G->Is<TBitmap>() || G->Is<TIcon>() || G->Is<TJPEGImage>()) {
    const std::vector<std::uint8_t> First = Stored(P);
    auto Again = TMemoryStream::Over(First);
    TPicture Copy;
    Copy.ReadStored(*Again);
    if (Stored(Copy) != First) std::abort();
  }
  // Huge pictures take seconds to decode and teach the fuzzer nothing new.
  if (std::int64_t{G->Width()} * G->Height() > (std::int64_t{1} << 22)) return 0;
  // The first drawing decodes; the later ones, one of them flipped, draw what was kept.
  DrawAt(TErrors<Exception>{}, *G, {TRect{0, 0, 64, 48}, TRect{60, 40, 8, 4}, TRect{-5, -5, 20, 20}});
  return 0;
}
