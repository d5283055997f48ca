// Loading and playing enhanced metafiles from arbitrary bytes. The total size
// in the header is made to match the input, so that mutations reach the records.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "picture/metafile/Metafile.h"
#include "toolkit/Exceptions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  std::vector<std::uint8_t> Bytes(Data, Data + Size);
  if (Size > 100 && Size < (1u << 24)) {
    for (int I = 0; I < 4; ++I) Bytes[48 + I] = static_cast<std::uint8_t>(Size >> (8 * I));
  }
  TMetafile M;
  LoadAndDraw(TErrors<Exception>{}, TErrors<>{}, M, [&] { M.LoadFromBytes(Bytes); },
              {TRect{0, 0, 64, 48}, TRect{10, 40, 30, 5}});  // the second one flipped
  return 0;
}
