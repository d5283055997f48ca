// Loading, converting and playing placeable Windows metafiles from arbitrary
// bytes. The input's first 10 bytes give the bounding box and units per inch;
// the placeable header with its key and checksum is made around them, so that
// mutations reach the Windows metafile records.
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
  if (Size < 10) return 0;
  std::vector<std::uint8_t> Bytes = {0xD7, 0xCD, 0xC6, 0x9A, 0, 0};
  Bytes.insert(Bytes.end(), Data, Data + 10);
  Bytes.insert(Bytes.end(), {0, 0, 0, 0});
  std::uint16_t Sum = 0;
  for (std::size_t I = 0; I < 20; I += 2) Sum ^= static_cast<std::uint16_t>(Bytes[I] | (Bytes[I + 1] << 8));
  Bytes.push_back(static_cast<std::uint8_t>(Sum));
  Bytes.push_back(static_cast<std::uint8_t>(Sum >> 8));
  Bytes.insert(Bytes.end(), Data + 10, Data + Size);
  TMetafile M;
  LoadAndDraw(TErrors<Exception>{}, TErrors<>{}, M, [&] { M.LoadFromBytes(Bytes); }, {TRect{0, 0, 64, 48}});
  return 0;
}
