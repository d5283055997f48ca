// THEIFImage: a HEIF file (the phones' HEIC, and HEIF with other codings) kept
// as its bytes and decoded with libheif on its first drawing: the primary
// still picture, with its alpha, turned by its rotation and mirror boxes and
// converted through its colour profile.
#pragma once

#include <cstdint>
#include <span>

#include "picture/decoding/DecodedGraphic.h"
#include "toolkit/Exceptions.h"

// A HEIF file that cannot be read: "HEIF image is not valid (%s)".
KEST_EXCEPTION(EHEIF, EInvalidGraphic);

// Registers "heif" and "heic" as "HEIF Image File"; calling it again does not
// register twice.
void InitializeHeifSupport();
void FinalizeHeifSupport();

class THEIFImage : public TDecodedGraphic {
  KEST_CLASS(THEIFImage)
 public:
  // Whether a file's first bytes are the start of HEIF (but not AVIF) data.
  static bool HasSignature(std::span<const std::uint8_t> Head);
  THEIFImage();
  ~THEIFImage() override;

 protected:
  THeader ReadHeader(std::span<const std::uint8_t> Bytes) const override;
  void DecodePixels(std::span<const std::uint8_t> Bytes, TDecodeSink& Sink) override;
  const char* FormatName() const override { return "HEIF"; }
};
