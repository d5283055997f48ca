// Icon loading and the first drawing from arbitrary bytes: each either raises
// one of the documented errors or succeeds; the drawn icon has the size it reports.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzSupport.h"
#include "picture/Bitmap.h"
#include "picture/icon/Icon.h"
#include "toolkit/Exceptions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  auto S = TMemoryStream::Over({Data, Size});
  TIcon Icon;
  try {
    Icon.LoadFromStream(*S);
    TBitmap Surface(40, 40);
    Surface.Canvas().Draw(4, 4, &Icon);
  } catch (const EReadError&) {
    return 0;
  } catch (const EInvalidGraphic&) {
    return 0;
  } catch (const EOutOfResources&) {
    return 0;
  }
  if (Icon.Width() <= 0 || Icon.Height() <= 0) std::abort();
  return 0;
}
