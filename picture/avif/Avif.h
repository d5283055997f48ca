// TAVIFImage: an AVIF file kept as its bytes and decoded with libavif on its
// first drawing: the primary still picture, with its alpha, turned by its
// rotation and mirror boxes and converted through its colour profile.
#pragma once

#include <cstdint>
#include <span>

#include "picture/decoding/DecodedGraphic.h"
#include "toolkit/Exceptions.h"

// An AVIF file that cannot be read: "AVIF image is not valid (%s)".
KEST_EXCEPTION(EAVIF, EInvalidGraphic);

// Registers "avif" as "AVIF Image File"; calling it again does not register twice.
void InitializeAvifSupport();
void FinalizeAvifSupport();

class TAVIFImage : public TDecodedGraphic {
  KEST_CLASS(TAVIFImage)
 public:
  // Whether a file's first bytes are the start of AVIF data.
  static bool HasSignature(std::span<const std::uint8_t> Head);
  TAVIFImage();
  ~TAVIFImage() override;

 protected:
  THeader ReadHeader(std::span<const std::uint8_t> Bytes) const override;
  void DecodePixels(std::span<const std::uint8_t> Bytes, TDecodeSink& Sink) override;
  const char* FormatName() const override { return "AVIF"; }
};
