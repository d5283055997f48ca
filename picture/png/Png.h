// TPngImage: a PNG file kept as its bytes, decoded at its first drawing.
#pragma once

#include <cstdint>
#include <span>

#include "picture/decoding/DecodedGraphic.h"
#include "toolkit/Exceptions.h"

// A PNG file that cannot be read: "PNG image is not valid (%s)" with the
// decoder's reason, or "PNG image is too large (%d x %d)".
KEST_EXCEPTION(EPNG, EInvalidGraphic);

// Start-up of the PNG support: registers "png" as "PNG Image File". Calling it
// again does not register twice.
void InitializePngSupport();
// Shutdown: removes the PNG class from the format registry.
void FinalizePngSupport();

// Every colour type and bit depth; 16-bit channels are shown with 8 bits;
// transparency (alpha channels and tRNS) is blended when drawn; a file gamma
// other than the screen's is corrected. Interlaced files can show each pass
// as it is decoded (ProgressiveDisplay). A file that ends early shows what
// was decoded, the rest transparent; damaged data does the same and raises
// EPNG at the first drawing.
class TPngImage : public TDecodedGraphic {
  KEST_CLASS(TPngImage)
 public:
  // Whether a file's first bytes are the start of PNG data.
  static bool HasSignature(std::span<const std::uint8_t> Head);
  TPngImage();

 protected:
  THeader ReadHeader(std::span<const std::uint8_t> Bytes) const override;
  void DecodeStill(std::span<const std::uint8_t> Bytes, TBitmap& Target) override;
  const char* FormatName() const override { return "PNG"; }
};
