// Loads the input as a TIFF graphic and draws it (see DecodedFuzzSupport.h).
#include "DecodedFuzzSupport.h"
#include "picture/tiff/Tiff.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  return FuzzDecodedGraphic<TTIFFImage>(Data, Size);
}
