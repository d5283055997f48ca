// Loads the input as a AVIF graphic and draws it twice.
#include "PhotoFuzzSupport.h"
#include "picture/avif/Avif.h"

// libheif and libavif decode AV1 with dav1d, which leaks a picture on some
// damaged streams; the leak is the library's and is not reported.

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  return FuzzPhotoGraphic<TAVIFImage>(Data, Size);
}
