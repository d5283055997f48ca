// The common life of the graphics whose files a format library decodes (PNG,
// GIF, WebP): the file's bytes are kept, loading reads only the header, the
// pixels are decoded at the first drawing with progress notifications, a
// failure is kept and raised once, and the stored data is the file itself.
// Animated files play their frames on a timer of the toolkit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/FrameCompositor.h"
#include "picture/Graphic.h"
#include "picture/Orientation.h"

class TTimer;

// The frames of an animated file, read at the first drawing.
class TFrameSource {
 public:
  virtual ~TFrameSource() = default;
  virtual int FrameCount() const = 0;
  // How many times the animation plays; 0 for ever.
  virtual int LoopCount() const = 0;
  virtual TFrameInfo Frame(int Index) const = 0;
  // Draws frame Index through C, between C.BeginFrame and C.EndFrame (which
  // the caller runs). Raises the format's exception for damaged data.
  virtual void Render(int Index, TFrameCompositor& C) = 0;
};

class TImageGraphic : public TGraphic {
  KEST_CLASS(TImageGraphic)
 public:
  TImageGraphic();
  ~TImageGraphic() override;

  // Decodes on the first drawing, then draws the current picture: alpha
  // blended over the canvas where it is partly transparent.
  void DrawInto(TCanvas& ACanvas, const TRect& R) override;
  bool Empty() const override;
  std::int32_t Width() const override;
  std::int32_t Height() const override;
  // Set by the property, and also while the picture has transparent pixels
  // (or may have them, before the decode): what lies below then shows.
  bool Transparent() const override;
  // A 32-bit little-endian length, then the file (length 0: empty).
  void ReadData(TStream& Stream) override;
  void WriteData(TStream& Stream) const override;
  // The size of a decoded picture cannot change: EInvalidGraphicOperation.
  void SetHeight(std::int32_t Value) override;
  void SetWidth(std::int32_t Value) override;
  // Keeps the rest of the stream and reads only the header; a damaged header
  // raises the format's exception and leaves the graphic as it was.
  void LoadFromStream(TStream& Stream) override;
  // Writes the file as loaded.
  void SaveToStream(TStream& Stream) const override;
  // From a graphic of the same class: shares its file, takes its settings and
  // a copy of a decoded still picture (an animation starts again).
  void Assign(const TPersistent* Source) override;

  // The picture shown now, decoding first if needed; null for a graphic that
  // was never loaded. After a failed decode: what was decoded. Read-only.
  const TBitmap* Bitmap();
  bool Decoded() const { return FBitmap != nullptr; }

  // Animated files play when drawn (default on). Off: the first frame only.
  bool Animate() const { return FAnimate; }
  void SetAnimate(bool Value);
  // 1 for a still picture; for an animation known from the first drawing on.
  int FrameCount() const;
  int FrameIndex() const { return FFrameIndex; }
  bool Animating() const;
  // Show passes of interlaced files as they are decoded (default off).
  bool ProgressiveDisplay() const { return FProgressiveDisplay; }
  void SetProgressiveDisplay(bool Value) { FProgressiveDisplay = Value; }
  // The EXIF orientation of a still picture (orNormal without one).
  TOrientation Orientation() const { return FHeader.Orientation; }
  // Whether the decode turns a still picture as its EXIF orientation says
  // (default on); Width and Height are then those of the turned picture. A
  // change drops the decoded picture and raises the change notification.
  bool AutoOrientation() const { return FAutoOrientation; }
  void SetAutoOrientation(bool Value);

  // The millisecond tick count that throttles progress notifications.
  using TTickSource = std::function<std::uint64_t()>;
  void SetTickSource(TTickSource Source) { FTickSource = std::move(Source); }

 protected:
  struct THeader {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    // The picture has, or may have, transparent pixels.
    bool Alpha = false;
    TOrientation Orientation = orNormal;
  };
  // Reads the header of a file; raises the format's exception when it is damaged.
  virtual THeader ReadHeader(std::span<const std::uint8_t> Bytes) const = 0;
  // The frames of an animated file, or null for a still picture. Raises for
  // a file whose frames cannot be read at all.
  virtual std::unique_ptr<TFrameSource> OpenFrames(std::span<const std::uint8_t> Bytes) = 0;
  // Decodes a still picture into Target, which it sizes to the header (24
  // bits for an opaque picture, 32 with premultiplied alpha otherwise). On a
  // fatal error it leaves Target showing what decoded and raises.
  virtual void DecodeStill(std::span<const std::uint8_t> Bytes, TBitmap& Target) = 0;
  // "Cannot change the size of a ... image".
  virtual std::string SizeChangeMessage() const = 0;

  // For decoders: whether the decoded still picture has transparent pixels.
  void SetDecodedAlpha(bool Alpha) { FAlpha = Alpha; }
  // For decoders of a file cut short: the rows of Target from Row on become
  // transparent (a 24-bit Target is made 32-bit first), so what lies below shows.
  void ClearRowsFrom(TBitmap& Target, std::int32_t Row);
  // For decoders: progress, throttled as the JPEG decode's is: at most one
  // notification per 500 ms (counted from the start of the decode) and only
  // when the percentage changed. R is the area new since the previous notification.
  // Before notifying, Prepare runs so that the bitmap shows nothing undefined.
  // True when the notification went out.
  bool DecodeProgress(int Percent, const TRect& R, const std::function<void()>& Prepare = {});

 private:
  void Hold(std::shared_ptr<const std::vector<std::uint8_t>> Data, const THeader& H);
  void Decode();
  // Composes frame Index over the canvas; returns the changed area.
  TRect ShowFrame(int Index);
  void StartAnimation();
  void StopAnimation();
  void NextFrame();
  void CheckNotDecoding() const;

  std::shared_ptr<const std::vector<std::uint8_t>> FData;
  THeader FHeader;
  std::unique_ptr<TBitmap> FBitmap;
  bool FAlpha = false;
  bool FDecoding = false;
  bool FAnimate = true;
  bool FProgressiveDisplay = false;
  bool FAutoOrientation = true;
  std::unique_ptr<TFrameSource> FFrames;
  TFrameCompositor FCompositor;
  std::unique_ptr<TTimer> FTimer;
  int FFrameIndex = 0;
  int FLoopsDone = 0;

  TTickSource FTickSource;
  std::uint64_t FProgressTime = 0;
  int FProgressPercent = 0;
};
