// Reading the stored picture form from arbitrary bytes: either a documented
// error, or a picture whose stored form, read back, writes the same bytes again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "BmpFuzzSupport.h"
#include "FuzzSupport.h"
#include "picture/Bitmap.h"
#include "picture/icon/Icon.h"
#include "toolkit/Exceptions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
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
  try {
    P.ReadStored(*S);
  } catch (const Exception&) {
    return 0;
  }
  // Bitmaps and icons keep everything their stored form holds.
  const TGraphic* G = P.Graphic();
  if (!G || !(G->Is<TBitmap>() || G->Is<TIcon>())) return 0;
  const std::vector<std::uint8_t> First = Stored(P);
  auto Again = TMemoryStream::Over(First);
  TPicture Copy;
  Copy.ReadStored(*Again);
  if (Stored(Copy) != First) std::abort();
  return 0;
}
