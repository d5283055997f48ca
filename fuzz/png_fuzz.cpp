// Loads the input as a PNG graphic and draws it (see DecodedFuzzSupport.h).
#include "DecodedFuzzSupport.h"
#include "picture/png/Png.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  return FuzzDecodedGraphic<TPngImage>(Data, Size);
}
