// TTIFFImage: a TIFF file kept as its bytes and decoded with libtiff on its
// first drawing: the first page of the file, in the compressions libtiff
// reads, 8 or 16 bits per sample, gray, palette, RGB, RGBA and CMYK (turned
// into colours), striped or tiled, turned by its orientation tag and
// converted through its colour profile.
#pragma once

#include <cstdint>
#include <span>

#include "picture/decoding/DecodedGraphic.h"
#include "toolkit/Exceptions.h"

// A TIFF file that cannot be read: "TIFF image is not valid (%s)" with
// libtiff's own account of the fault.
KEST_EXCEPTION(ETIFF, EInvalidGraphic);

// Registers "tiff" and "tif" as "TIFF Image File"; calling it again does not
// register twice.
void InitializeTiffSupport();
void FinalizeTiffSupport();

class TTIFFImage : public TDecodedGraphic {
  KEST_CLASS(TTIFFImage)
 public:
  // Whether a file's first bytes are the start of TIFF data.
  static bool HasSignature(std::span<const std::uint8_t> Head);
  TTIFFImage();
  ~TTIFFImage() override;

 protected:
  THeader ReadHeader(std::span<const std::uint8_t> Bytes) const override;
  void DecodePixels(std::span<const std::uint8_t> Bytes, TDecodeSink& Sink) override;
  const char* FormatName() const override { return "TIFF"; }
};
