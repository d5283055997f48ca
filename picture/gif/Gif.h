// TGifImage: a GIF file kept as its bytes, decoded at its first drawing;
// animated files play their frames.
#pragma once

#include <cstdint>
#include <span>

#include "picture/decoding/DecodedGraphic.h"
#include "toolkit/Exceptions.h"

// A GIF file that cannot be read: "GIF image is not valid (%s)" with the
// decoder's reason, or "GIF image is too large (%d x %d)".
KEST_EXCEPTION(EGIF, EInvalidGraphic);

// Start-up of the GIF support: registers "gif" as "GIF Image File". Calling it
// again does not register twice.
void InitializeGifSupport();
// Shutdown: removes the GIF class from the format registry.
void FinalizeGifSupport();

// Still and animated GIF files, interlaced or not, with their transparent
// colour. The frames are decoded once, at the first drawing, and composed by
// their disposal rules as they play. A file that ends early or is damaged
// inside a frame shows what was decoded; when not even the first frame could
// be read whole, the first drawing raises EGIF once.
class TGifImage : public TDecodedGraphic {
  KEST_CLASS(TGifImage)
 public:
  // Whether a file's first bytes are the start of GIF data.
  static bool HasSignature(std::span<const std::uint8_t> Head);
  TGifImage();

 protected:
  THeader ReadHeader(std::span<const std::uint8_t> Bytes) const override;
  std::unique_ptr<TFrameSource> OpenFrames(std::span<const std::uint8_t> Bytes) override;
  const char* FormatName() const override { return "GIF"; }
};
