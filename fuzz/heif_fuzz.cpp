// Loads the input as a HEIF graphic and draws it (see DecodedFuzzSupport.h).
#include "DecodedFuzzSupport.h"
#include "picture/heif/Heif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  return FuzzDecodedGraphic<THEIFImage>(Data, Size);
}
