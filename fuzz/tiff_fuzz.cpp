// Loads the input as a TIFF graphic and draws it twice.
#include "PhotoFuzzSupport.h"
#include "picture/tiff/Tiff.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  return FuzzPhotoGraphic<TTIFFImage>(Data, Size);
}
