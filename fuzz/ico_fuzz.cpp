// Icon loading and the first drawing from arbitrary bytes: each either raises
// one of the documented errors or succeeds; the drawn icon has the size it reports.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzSupport.h"
#include "picture/icon/Icon.h"
#include "toolkit/Exceptions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  auto S = TMemoryStream::Over({Data, Size});
  TIcon Icon;
  using TIconErrors = TErrors<EReadError, EInvalidGraphic, EOutOfResources>;
  // Icons are drawn unstretched: only the top-left corner of the target counts.
  if (LoadAndDraw(TIconErrors{}, TIconErrors{}, Icon, [&] { Icon.LoadFromStream(*S); }, {TRect{4, 4, 36, 36}}) &&
      (Icon.Width() <= 0 || Icon.Height() <= 0))
    std::abort();
  return 0;
}
