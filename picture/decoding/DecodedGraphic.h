// TDecodedGraphic: the life that the graphics whose files a format library
// decodes share (PNG, GIF, WebP, TIFF, AVIF, HEIF). The file's bytes are kept
// and only its header is read when it is loaded, so its size is known at once;
// its pixels are decoded at the first drawing (or on a worker thread, see
// TGraphic::StartBackgroundDecode), with progress notifications, into a bitmap
// that is kept; a failed decode keeps what was decoded and raises once. The
// stored data is a 32-bit little-endian length and the file's bytes. Animated
// files play their frames on a timer of the toolkit.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/decoding/FrameCompositor.h"
#include "picture/Graphic.h"
#include "picture/decoding/Orientation.h"
#include "picture/decoding/ProgressThrottle.h"

class TColorTransform;
class TDecodeSink;
class TFrameAhead;
class TTimer;
// The file's bytes, shared between copies and never changed.
struct TDecodedFile;

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

  // Held while a frame is rendered: a worker that composes frames ahead and
  // the user-interface thread never render at the same time.
  std::mutex Rendering;
};

class TDecodedGraphic : public TGraphic {
  KEST_CLASS(TDecodedGraphic)
 public:
  ~TDecodedGraphic() override;

  // Decodes on the first drawing, then draws the picture shown now, blending
  // pixels with alpha over what lies beneath.
  void DrawInto(TCanvas& ACanvas, const TRect& R) override;
  bool Empty() const override;
  // The decoded bitmap's size once there is one; before, the header's size,
  // width and height exchanged when the picture is turned by a quarter.
  std::int32_t Width() const override;
  std::int32_t Height() const override;
  HPALETTE Palette() const override;
  // Set by the property, and also while the picture has transparent pixels
  // (or may have them, before the decode): what lies below then shows.
  bool Transparent() const override;
  // A 32-bit little-endian length, then the file (length 0: empty).
  void ReadData(TStream& Stream) override;
  void WriteData(TStream& Stream) const override;
  // The size comes from the file: raises EInvalidGraphicOperation.
  void SetHeight(std::int32_t Value) override;
  void SetWidth(std::int32_t Value) override;
  // Keeps the rest of the stream and reads only the header; a damaged header
  // raises the format's exception and leaves the graphic as it was.
  void LoadFromStream(TStream& Stream) override;
  // Writes the file as loaded.
  void SaveToStream(TStream& Stream) const override;
  // From a graphic of the same class: shares its file, takes its header and
  // settings, and a copy of a decoded still picture (an animation starts again).
  void Assign(const TPersistent* Source) override;

  // Not decoded yet (and no decode on a worker thread running).
  bool NeedsDecode() const override { return !FBitmap && FData && !BackgroundDecoding(); }

  // The picture shown now, decoding first if needed (or waiting for the decode
  // on a worker thread); null for a graphic never loaded. After a failed
  // decode: what was decoded. Read-only.
  const TBitmap* Bitmap();
  bool Decoded() const { return FBitmap != nullptr; }

  // The orientation the file records (orNormal without one).
  TOrientation Orientation() const { return FHeader.Orientation; }
  // Whether the decode turns the picture as the file's orientation says
  // (default on); Width and Height are then those of the turned picture. A
  // change drops the decoded picture and raises the change notification.
  bool AutoOrientation() const { return FAutoOrientation; }
  void SetAutoOrientation(bool Value);
  // Whether the picture has, or may have, an alpha channel (from the header).
  bool HasAlpha() const { return FHeader.Alpha; }

  // Animated files play when drawn (default on). Off: the first frame only.
  bool Animate() const { return FAnimate; }
  void SetAnimate(bool Value);
  // 1 for a still picture; for an animation known from the first drawing on.
  int FrameCount() const;
  int FrameIndex() const { return FFrameIndex; }
  bool Animating() const;
  // Show passes of interlaced files as they are decoded (default off); on a
  // worker thread, show the rows decoded so far.
  bool ProgressiveDisplay() const { return FProgressiveDisplay; }
  void SetProgressiveDisplay(bool Value) { FProgressiveDisplay = Value; }

  // The millisecond tick count that throttles progress notifications.
  using TTickSource = TProgressThrottle::TTickSource;
  void SetTickSource(TTickSource Source) { FThrottle.SetTickSource(std::move(Source)); }

 protected:
  TDecodedGraphic();

  struct THeader {
    std::int32_t Width = 0;  // as stored, before any turn
    std::int32_t Height = 0;
    // The picture has, or may have, transparent pixels.
    bool Alpha = false;
    TOrientation Orientation = orNormal;
  };
  // Reads the header of a file; raises the format's exception for a file that
  // is damaged or too large (more than MaxPicturePixels pixels).
  virtual THeader ReadHeader(std::span<const std::uint8_t> Bytes) const = 0;
  // The frames of an animated file, or null for a still picture (the
  // default). Raises for a file whose frames cannot be read at all.
  virtual std::unique_ptr<TFrameSource> OpenFrames(std::span<const std::uint8_t> Bytes);
  // Decodes a still picture into Target, upright, sizing it to the header (24
  // bits for an opaque picture, 32 with premultiplied alpha otherwise); the
  // orientation is applied afterwards. On a fatal error it leaves Target
  // showing what decoded and raises. By default: DecodePixels through a sink.
  virtual void DecodeStill(std::span<const std::uint8_t> Bytes, TBitmap& Target);
  // Decodes the pixels through Sink, which turns them as they come; raises
  // the format's exception on a fatal error, after the rows decoded so far were put.
  virtual void DecodePixels(std::span<const std::uint8_t> Bytes, TDecodeSink& Sink);
  // "PNG", "TIFF", ...: "Cannot change the size of a <name> image".
  virtual const char* FormatName() const = 0;

  // For decoders that report no progress for a while (reading an animation's
  // frames): raises EDecodeCancelled on a worker whose decode was cancelled.
  void CheckCancelled() const;
  // For decoders: whether the decoded still picture has transparent pixels.
  void SetDecodedAlpha(bool Alpha) { FAlpha = Alpha; }
  // For decoders of a file cut short: the rows of Target from Row on become
  // transparent (a 24-bit Target is made 32-bit first), so what lies below shows.
  void ClearRowsFrom(TBitmap& Target, std::int32_t Row);
  // For decoders: progress, throttled (TProgressThrottle, counted from the
  // start of the decode). R is the area new since the previous notification;
  // the receiver is asked to repaint at once when it is at least 4 rows high.
  // Before notifying, Prepare runs so that the bitmap shows nothing undefined.
  // True when the notification went out. Raises EDecodeCancelled on a worker
  // whose decode was cancelled.
  bool DecodeProgress(int Percent, const TRect& R, const std::function<void()>& Prepare = {});
  bool DecodeProgress(int Percent, const TRect& R, bool RedrawNow, const std::function<void()>& Prepare);

  // Background decoding: the worker's copy takes the tick source too; the
  // decoded picture (and an animation's frames) are taken over from it.
  std::unique_ptr<TGraphic> CopyForBackground() const override;
  void DecodeForBackground(const std::atomic<bool>& Cancel) override;
  void TakeDecoded(TGraphic& Worker) override;
  // With progressive display: the bitmap being decoded.
  const TBitmap* PartialPicture() override;

 private:
  friend class TDecodeSink;
  void Hold(std::shared_ptr<const TDecodedFile> Data, const THeader& H);
  void Decode();
  bool Cancelled() const { return FCancel && FCancel->load(std::memory_order_relaxed); }
  // The orientation the decode turns the picture by.
  TOrientation DecodeOrientation() const { return FAutoOrientation ? FHeader.Orientation : orNormal; }
  // Composes frame Index over the canvas and shows it; returns the changed
  // area of the picture shown.
  TRect ShowFrame(int Index);
  // Where the frames are composed: the picture shown, or for an animation
  // that is turned, the canvas it is turned from.
  TBitmap& FrameCanvas() { return FCanvas ? *FCanvas : *FBitmap; }
  // Starts the animation over from a clear canvas.
  void StartFrames();
  // Whether the frames are composed ahead on a worker (a large canvas).
  bool PlaysAhead() const;
  // The next frame from the worker, Next; false while it is not ready.
  bool TakeAhead(int& Next, TRect& Changed);
  void StartAnimation();
  void StopAnimation();
  void NextFrame();
  void CheckNotDecoding() const;
  // Gives the bitmap the alpha format its pixels have.
  void MarkAlphaFormat();

  std::shared_ptr<const TDecodedFile> FData;
  THeader FHeader;
  std::unique_ptr<TBitmap> FBitmap;
  bool FAlpha = false;
  bool FDecoding = false;
  // The running decode's sink turned the rows itself.
  bool FTurnedInDecode = false;
  bool FAnimate = true;
  bool FProgressiveDisplay = false;
  bool FAutoOrientation = true;
  // Shared with the worker that composes frames ahead.
  std::shared_ptr<TFrameSource> FFrames;
  std::unique_ptr<TFrameAhead> FAhead;
  TFrameCompositor FCompositor;
  // The frames as stored, for an animation shown turned by its orientation.
  std::unique_ptr<TBitmap> FCanvas;
  std::unique_ptr<TTimer> FTimer;
  int FFrameIndex = 0;
  int FLoopsDone = 0;
  TProgressThrottle FThrottle;
  // Set on a copy decoded on a worker thread: the decode stops at its next
  // progress step once it is set.
  const std::atomic<bool>* FCancel = nullptr;
};

// Where a decoder of DecodePixels puts its pixels: a bitmap of the displayed
// size, rows given in the file's order and written where the orientation puts
// them, through the colour profile when there is one, with throttled progress.
class TDecodeSink {
 public:
  // How the decoder gives its rows.
  enum TRows : std::uint8_t {
    rkGray8,   // one gray byte per pixel (8-bit bitmap with a gray colour table)
    rkBGR8,    // blue, green, red
    rkBGRA8,   // blue, green, red, alpha
    rkBGRA8Premultiplied,  // the same, colours multiplied by alpha
    rkBGRX8,   // blue, green, red, 255: an opaque picture in 32 bits
  };

  // HeaderWidth x HeaderHeight: the stored size the header gave, which a
  // decode that fails before its first row keeps.
  TDecodeSink(TDecodedGraphic& Owner, TBitmap& Target, TOrientation O, std::int32_t HeaderWidth,
              std::int32_t HeaderHeight);
  ~TDecodeSink();
  TDecodeSink(const TDecodeSink&) = delete;
  TDecodeSink& operator=(const TDecodeSink&) = delete;

  // Sizes the bitmap for a stored W x H picture; every pixel starts
  // transparent black. Call once, before any row.
  void Start(std::int32_t W, std::int32_t H, TRows Rows);
  // Applies an ICC profile to the rows from now on (to the gray table for
  // gray rows); an unusable one is ignored. Before Start.
  void SetProfile(std::span<const std::uint8_t> Icc);
  // The decoder gives its rows turned as the file says already (before Start).
  void SetRowsTurned() { FOrientation = orNormal; }
  // Makes gray rows read 0 as white (before Start).
  void SetGrayInverted(bool Inverted) { FGrayInverted = Inverted; }

  // Where stored row Y may be written directly (then call Placed), or null
  // (then Put). Rows of an upright picture lie back to back, Stride() apart.
  std::uint8_t* DirectRow(std::int32_t Y);
  std::ptrdiff_t Stride() const { return FTarget.Stride(); }
  // Stored row Y was written where DirectRow said: converts it through the profile.
  void Placed(std::int32_t Y);
  // Puts stored row Y (converted in place through the profile, so writable).
  void Put(std::int32_t Y, std::uint8_t* Pixels);
  // Stored rows 0..Rows-1 are in place: may report progress.
  void RowsDone(std::int32_t Rows);
  // Bytes per pixel of the rows.
  int RowBytesPerPixel() const;
  std::int32_t StoredWidth() const { return FWidth; }
  std::int32_t StoredHeight() const { return FHeight; }
  bool Started() const { return FStarted; }

  // After the decode: marks the rows after the last done as transparent, so
  // that the background shows where a cut or damaged file had no pixels.
  void Finish(bool Complete);

 private:
  void ClearUnwritten();
  TDecodedGraphic& FOwner;
  TBitmap& FTarget;
  TOrientation FOrientation;
  std::int32_t FHeaderWidth, FHeaderHeight;
  std::unique_ptr<TOrientedRowWriter> FWriter;
  std::unique_ptr<TColorTransform> FTransform;
  std::vector<std::uint8_t> FIcc;
  TRows FRows = rkBGR8;
  bool FGrayInverted = false;
  bool FStarted = false;
  // The rows after FDone hold no stale memory.
  bool FCleared = true;
  std::int32_t FWidth = 0, FHeight = 0;
  std::int32_t FDone = 0;
  std::int32_t FReportedRow = 0;
};
