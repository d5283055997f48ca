// Builds the frames of an animation on one canvas: each frame is drawn over
// what the previous ones left, after the previous frame was disposed of as its
// file asked. Shared by the animated formats.
//
// The canvas is a 32-bit bitmap of premultiplied colours with alpha in the top
// byte (0xAARRGGBB); pixels outside every frame are transparent.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/Bitmap.h"

// What happens to a frame's rectangle before the next frame is drawn.
enum TFrameDisposal : std::uint8_t {
  fdKeep,        // left as it is
  fdBackground,  // cleared to transparent
  fdPrevious,    // restored to what was there before the frame was drawn
};

struct TFrameInfo {
  TRect Rect;                    // on the canvas; clipped to it by the compositor
  std::uint32_t Delay = 100;     // milliseconds the frame stays
  TFrameDisposal Disposal = fdKeep;
  bool Blend = true;             // alpha-blend over the canvas; false: replace
};

// Delays this short are taken as 100 ms, as browsers do: files meant for
// "as fast as possible" would otherwise burn a core.
std::uint32_t EffectiveFrameDelay(std::uint32_t Milliseconds);

class TFrameCompositor {
 public:
  // Starts over on Canvas, sized W x H and cleared to transparent.
  void Start(TBitmap& Canvas, std::int32_t W, std::int32_t H);
  // Disposes of the previous frame and gets ready to draw F. Rows are then
  // given with PutRow; EndFrame returns the canvas area that changed.
  void BeginFrame(const TFrameInfo& F);
  // Row Y of the frame (0 is the frame's top row), Rect.Width() pixels of
  // premultiplied 0xAARRGGBB. Rows and pixels outside the canvas are dropped.
  // AnyTransparent false promises that every pixel is opaque.
  void PutRow(std::int32_t Y, const std::uint32_t* Pixels, bool AnyTransparent = true);
  TRect EndFrame();
  // Where the frame's rows may be written straight onto the canvas instead,
  // Stride bytes apart: when the frame lies wholly on the canvas and its
  // pixels end up there as they are (it replaces what is there, or it is the
  // first frame since Start). Null otherwise. A decoder that wrote there says
  // so with PutDirect, and gives no rows.
  std::uint32_t* DirectRows(std::ptrdiff_t& Stride);
  void PutDirect();
  // Whether no pixel of the canvas can be partly transparent. Kept cheaply and
  // on the safe side: once false it stays false until Start.
  bool Opaque() const { return FOpaque; }
  // The frame rectangle being drawn, clipped to the canvas.
  const TRect& FrameRect() const { return FRect; }

 private:
  std::uint32_t* CanvasRow(std::int32_t Y) { return reinterpret_cast<std::uint32_t*>(FCanvas->ScanLine(Y)); }
  void Fill(const TRect& R, std::uint32_t Pixel);

  TBitmap* FCanvas = nullptr;
  TRect FRect;           // the frame being drawn, clipped
  std::int32_t FLeftSkip = 0;  // pixels of each row left of the canvas
  std::int32_t FTopSkip = 0;
  bool FBlend = true;
  bool FDirect = false;
  // Nothing was drawn since Start.
  bool FClear = false;
  TRect FChanged;
  // The previous frame's disposal, done when the next frame begins.
  TFrameDisposal FDisposal = fdKeep;
  TRect FDisposeRect;
  std::vector<std::uint32_t> FSaved;  // the area under a frame to restore
  bool FOpaque = false;
  bool FRowsOpaque = true;
  std::int32_t FRowsPut = 0;
};
