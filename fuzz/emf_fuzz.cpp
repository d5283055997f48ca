// Loading and playing enhanced metafiles from arbitrary bytes. The total size
// in the header is made to match the input, so that mutations reach the records.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "picture/Bitmap.h"
#include "picture/metafile/Metafile.h"
#include "toolkit/Exceptions.h"

// The font configuration library keeps its caches until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

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
  try {
    M.LoadFromBytes(Bytes);
  } catch (const Exception&) {
    return 0;
  }
  TBitmap B(64, 48);
  B.Canvas().StretchDraw(TRect{0, 0, 64, 48}, &M);
  B.Canvas().StretchDraw(TRect{10, 40, 30, 5}, &M);  // a flipped destination
  return 0;
}
