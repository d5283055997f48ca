// TPhotoGraphic: the life that the graphics of photographic formats share
// (TIFF, AVIF, HEIF): the file's bytes are kept and only its header is read
// when it is loaded, so its size is known at once; its pixels are decoded on
// the first drawing, with progress notifications, into a bitmap that is kept;
// a failed decode keeps what was decoded and raises once. Its stored form is a
// 32-bit little-endian length and the file's bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/Graphic.h"
#include "picture/Orientation.h"

class TColorTransform;
class TPhotoSink;

class TPhotoGraphic : public TGraphic {
  KEST_CLASS(TPhotoGraphic)
 public:
  ~TPhotoGraphic() override;

  // Decodes on the first drawing, then draws the bitmap as TBitmap does,
  // blending pixels with alpha over what lies beneath.
  void DrawInto(TCanvas& ACanvas, const TRect& R) override;
  bool Empty() const override;
  // The decoded bitmap's size once there is one; before, the header's size,
  // width and height exchanged when the picture is turned by a quarter.
  std::int32_t Width() const override;
  std::int32_t Height() const override;
  HPALETTE Palette() const override;
  void ReadData(TStream& Stream) override;
  void WriteData(TStream& Stream) const override;
  // The size comes from the file: raises EInvalidGraphicOperation.
  void SetHeight(std::int32_t Value) override;
  void SetWidth(std::int32_t Value) override;
  // Keeps the rest of the stream and reads only the header; a damaged header
  // raises the format's exception and leaves the graphic as it was.
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) const override;
  // From a graphic of the same class: shares its bytes, takes its header and
  // settings, and copies its decoded bitmap if it has one.
  void Assign(const TPersistent* Source) override;

  // The decoded bitmap, decoding first if needed; null for a graphic never
  // loaded. After a failed decode: what was decoded.
  const TBitmap* Bitmap();
  bool Decoded() const { return FBitmap != nullptr; }

  // The orientation the file records (orNormal without one).
  TOrientation Orientation() const { return FHeader.Orientation; }
  // Whether the decode turns the picture as the file's orientation says (default on).
  bool AutoOrientation() const { return FAutoOrientation; }
  void SetAutoOrientation(bool Value);
  // Whether the picture has an alpha channel.
  bool HasAlpha() const { return FHeader.Alpha; }

  // The millisecond tick count that throttles progress notifications.
  using TTickSource = std::function<std::uint64_t()>;
  void SetTickSource(TTickSource Source) { FTickSource = std::move(Source); }

 protected:
  TPhotoGraphic();

  struct THeader {
    std::int32_t Width = 0;  // as stored, before any turn
    std::int32_t Height = 0;
    TOrientation Orientation = orNormal;
    bool Alpha = false;
  };
  // Reads the header of a file; raises the format's exception for a file that
  // is damaged or too large (more than MaxPicturePixels pixels).
  virtual THeader ReadHeader(std::span<const std::uint8_t> Bytes) const = 0;
  // Decodes the pixels through Sink; raises the format's exception on a fatal
  // error, after the rows decoded so far were put.
  virtual void DecodePixels(std::span<const std::uint8_t> Bytes, TPhotoSink& Sink) = 0;
  // "Cannot change the size of a <name> image".
  virtual const char* FormatName() const = 0;

 private:
  friend class TPhotoSink;
  void Decode();
  bool Turned() const { return FAutoOrientation && SwapsAxes(FHeader.Orientation); }
  void CheckNotDecoding() const;

  // The file's bytes, shared between copies and never changed; read straight
  // into memory that is not cleared first (a photograph's file is large).
  struct TFileData {
    TFileData(std::size_t N);
    ~TFileData();
    TFileData(const TFileData&) = delete;
    TFileData& operator=(const TFileData&) = delete;
    std::uint8_t* Memory = nullptr;
    std::size_t Size = 0;
    bool Mapped = false;
    std::span<const std::uint8_t> Bytes() const { return {Memory, Size}; }
  };
  std::shared_ptr<const TFileData> FData;
  THeader FHeader;
  std::unique_ptr<TBitmap> FBitmap;
  bool FAutoOrientation = true;
  bool FDecoding = false;
  TTickSource FTickSource;
};

// Where a decoder puts its pixels: a bitmap of the displayed size, rows given
// in the file's order and written where the orientation puts them, through
// the colour profile when there is one, with throttled progress notifications.
class TPhotoSink {
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
  TPhotoSink(TPhotoGraphic& Owner, TBitmap& Target, TOrientation O, std::int32_t HeaderWidth,
             std::int32_t HeaderHeight);
  ~TPhotoSink();
  TPhotoSink(const TPhotoSink&) = delete;
  TPhotoSink& operator=(const TPhotoSink&) = delete;

  // Sizes the bitmap for a stored W x H picture; every pixel starts
  // transparent black. Call once, before any row.
  void Start(std::int32_t W, std::int32_t H, TRows Rows);
  // Applies an ICC profile to the rows from now on (to the gray table for
  // gray rows); an unusable one is ignored. Before Start.
  void SetProfile(std::span<const std::uint8_t> Icc);
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
  TPhotoGraphic& FOwner;
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
  // Progress state.
  std::uint64_t FTime = 0;
  std::int32_t FReportedRow = 0;
  int FPercent = 0;
};
