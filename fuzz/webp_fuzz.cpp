// Loads the input as a WEBP graphic and draws it (see DecodedFuzzSupport.h).
#include "DecodedFuzzSupport.h"
#include "picture/webp/Webp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  return FuzzDecodedGraphic<TWebPImage>(Data, Size);
}
