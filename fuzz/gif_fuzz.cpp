// Loads the input as a GIF graphic and draws it (see DecodedFuzzSupport.h).
#include "DecodedFuzzSupport.h"
#include "picture/gif/Gif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  return FuzzDecodedGraphic<TGifImage>(Data, Size);
}
