// TWebPImage: a WebP file kept as its bytes, decoded at its first drawing;
// animated files play their frames.
#pragma once

#include <cstdint>
#include <span>

#include "picture/decoding/DecodedGraphic.h"
#include "toolkit/Exceptions.h"

// A WebP file that cannot be read: "WebP image is not valid (%s)" with the
// decoder's reason, or "WebP image is too large (%d x %d)".
KEST_EXCEPTION(EWebP, EInvalidGraphic);

// Start-up of the WebP support: registers "webp" as "WebP Image File". Calling
// it again does not register twice.
void InitializeWebpSupport();
// Shutdown: removes the WebP class from the format registry.
void FinalizeWebpSupport();

// Lossy and lossless pictures, with or without alpha, and animations. A still
// picture is decoded straight into its bitmap, with progress; a file that ends
// early shows what was decoded, the rest transparent; damaged data does the
// same and raises EWebP at the first drawing.
class TWebPImage : public TDecodedGraphic {
  KEST_CLASS(TWebPImage)
 public:
  // Whether a file's first bytes are the start of WebP data.
  static bool HasSignature(std::span<const std::uint8_t> Head);
  TWebPImage();

 protected:
  THeader ReadHeader(std::span<const std::uint8_t> Bytes) const override;
  std::unique_ptr<TFrameSource> OpenFrames(std::span<const std::uint8_t> Bytes) override;
  void DecodeStill(std::span<const std::uint8_t> Bytes, TBitmap& Target) override;
  const char* FormatName() const override { return "WebP"; }
};
