// TJPEGImage: a JPEG file kept as its compressed bytes, decoded with libjpeg
// on its first drawing; the decoded bitmap is kept and drawn like a TBitmap.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/Graphic.h"
#include "picture/decoding/Orientation.h"
#include "picture/decoding/ProgressThrottle.h"
#include "toolkit/Exceptions.h"

// A fatal error of the JPEG decoder: "JPEG error #%d" with the library's message code.
KEST_EXCEPTION(EJPEG, EInvalidGraphic);

enum TJPEGPixelFormat : std::uint8_t { jf24Bit, jf8Bit };
enum TJPEGPerformance : std::uint8_t { jpBestQuality, jpBestSpeed };
// Output size divided by 1, 2, 4 or 8.
enum TJPEGScale : std::uint8_t { jsFullSize, jsHalf, jsQuarter, jsEighth };

// The settings a JPEG graphic takes when it is created.
struct TJPEGDefaults {
  // 8-bit output is quantised by the decoder to 236 colours.
  TJPEGPixelFormat PixelFormat = jf24Bit;
  // Decode to one gray channel (8-bit output).
  bool ForceGrayscale = false;
  // Best speed: fast integer inverse DCT, one-pass quantisation, ordered dithering.
  TJPEGPerformance Performance = jpBestQuality;
  TJPEGScale Scale = jsFullSize;
  // Block smoothing of multi-scan files while their later scans are missing.
  bool Smoothing = true;
  // Show each scan of a multi-scan file as it is decoded.
  bool ProgressiveDisplay = false;
  // Encoding only; this program never encodes.
  int CompressionQuality = 90;
  bool ProgressiveEncoding = false;
  // Turn the picture as its EXIF orientation says.
  bool AutoOrientation = true;
};

// The one process-wide record of default settings.
TJPEGDefaults& DefaultJpegSettings();

// Start-up of the JPEG support: chooses 8-bit output for screens of 8 bits per
// pixel or fewer, then registers "jpeg" and "jpg" as "JPEG Image File". Calling
// it again does not register twice.
void InitializeJpegSupport();
// Shutdown: removes the JPEG class from the format registry.
void FinalizeJpegSupport();

// The most pixels one decode may put out, and the most a file of several scans
// may have: MaxPicturePixels. A single-scan file larger than this is shown at
// the largest reduced size (1/2, 1/4, 1/8) under it. Tests lower it.
std::uint64_t& JpegPixelLimit();
// Files up to this size (4 MB) are read whole at loading; a larger one stays
// open and is read as it is decoded. Tests lower it.
std::size_t& JpegReadWholeUpTo();

struct jpeg_decompress_struct;
class TJpegBytes;
class TJpegDecoder;
class TJpegRowPath;

class TJPEGImage : public TGraphic {
  KEST_CLASS(TJPEGImage)
 public:
  // Whether a file's first bytes are the start of JPEG data.
  static bool HasSignature(std::span<const std::uint8_t> Head);
  TJPEGImage();
  ~TJPEGImage() override;

  // Decodes on the first drawing, then draws the decoded bitmap as TBitmap does.
  // A drawing at half the picture's size or less decodes only a draft: the
  // picture at the smallest reduction by the decoder (1/2, 1/4, 1/8, beyond
  // Scale's) that still covers R, kept beside the full bitmap and drawn
  // enlarged to R. A drawing that needs more detail decodes again: a draft
  // at a smaller reduction, or the full picture. A picture whose full output
  // would pass JpegPixelLimit() is always drawn from the largest draft under it.
  void DrawInto(TCanvas& ACanvas, const TRect& R) override;
  // Empty: neither compressed bytes (a zero-length file counts as bytes) nor a
  // non-empty decoded bitmap.
  bool Empty() const override;
  // The decoded bitmap's size once there is one; before, the header's size at
  // full scale, or the size the decoder computes for a reduced scale. Width
  // and height are exchanged when the picture is turned by a quarter
  // (AutoOrientation and an EXIF orientation of 5 to 8).
  std::int32_t Width() const override;
  std::int32_t Height() const override;
  // The decoded bitmap's palette; before a decode a palette given with
  // SetPalette, or for 24-bit output on a screen of 8 bits or fewer a halftone
  // palette (kept for the decode, which then drops it).
  HPALETTE Palette() const override;
  // Before a decode: the palette 8-bit output is mapped to. After: the bitmap's palette.
  void SetPalette(HPALETTE Value) override;
  // A 32-bit little-endian length, then the JPEG file.
  void ReadData(TStream& Stream) override;
  void WriteData(TStream& Stream) const override;
  // The size of a JPEG image cannot change: raise EInvalidGraphicOperation.
  void SetHeight(std::int32_t Value) override;
  void SetWidth(std::int32_t Value) override;
  // Keeps the rest of the stream and reads only the header; raises EJPEG for a
  // file that is not a JPEG image and leaves the graphic as it was.
  void LoadFromStream(TStream& Stream) override;
  // Reads only the start of the file, enough for its header, and keeps the
  // file open: the rest is read at the first decode (on a worker thread when
  // decoding in the background) or when the graphic is saved. A file changed
  // in place meanwhile fails there with EReadError; one deleted or replaced
  // under its name still gives the bytes loaded.
  void LoadFromFile(const std::string& FileName) override;
  // Takes the bytes over.
  void LoadFromFileBytes(TFileBytes&& Bytes) override;
  // Writes the JPEG file as loaded.
  void SaveToStream(TStream& Stream) const override;
  // From another TJPEGImage: shares its compressed bytes, takes its header
  // values and settings, and copies its decoded bitmap if it has one.
  void Assign(const TPersistent* Source) override;

  // Not decoded yet as the planned drawing needs it (and no decode on a
  // worker thread running).
  bool NeedsDecode() const override;
  // The next drawing goes to R: a decode on a worker thread decodes what it
  // needs (a draft when R is half the picture's size or less).
  void PlanDrawing(const TRect& R) override;
  // Draws the draft held, enlarged, while the full picture decodes.
  bool DrawWhileDecoding(TCanvas& ACanvas, const TRect& R) override;

  // The decoded bitmap at full size (Scale's), decoding first if needed (or
  // waiting for the decode on a worker thread); never a draft. Null for a
  // graphic that was never loaded. After a failed decode: what was decoded
  // (the decode is not tried again). Read-only: a decode may be writing to it.
  // Raises EJPEG with the library's "too big" code when the full output would
  // pass JpegPixelLimit(), leaving the graphic as it was.
  const TBitmap* Bitmap();
  // The draft drawn by the last drawing at half size or less, while there is
  // no full bitmap; null otherwise. Its reduction beyond Scale is
  // 1 << DraftShift().
  const TBitmap* Draft() const { return FBitmap ? nullptr : FDraft.get(); }
  int DraftShift() const { return FDraftShift - static_cast<int>(FScale); }
  // Whether the decode has begun: its bitmap then exists, complete, partly
  // filled or empty, and is what every drawing shows.
  bool Decoded() const { return FBitmap != nullptr; }

  // From the file's header.
  bool Grayscale() const { return FGrayscale; }
  bool Progressive() const { return FProgressive; }
  // The EXIF orientation of the file (orNormal without one).
  TOrientation Orientation() const { return FOrientation; }

  // Settings. A change to one that alters the decoded picture drops a decoded
  // bitmap so that the next drawing decodes again, and raises the change notification.
  TJPEGPixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TJPEGPixelFormat Value);
  bool ForceGrayscale() const { return FForceGrayscale; }
  void SetForceGrayscale(bool Value);
  TJPEGPerformance Performance() const { return FPerformance; }
  void SetPerformance(TJPEGPerformance Value);
  TJPEGScale Scale() const { return FScale; }
  void SetScale(TJPEGScale Value);
  bool Smoothing() const { return FSmoothing; }
  void SetSmoothing(bool Value);
  // Whether the decode turns the picture as its EXIF orientation says (default on).
  bool AutoOrientation() const { return FAutoOrientation; }
  void SetAutoOrientation(bool Value);
  bool ProgressiveDisplay() const { return FProgressiveDisplay; }
  void SetProgressiveDisplay(bool Value) { FProgressiveDisplay = Value; }
  int CompressionQuality() const { return FCompressionQuality; }
  void SetCompressionQuality(int Value) { FCompressionQuality = Value; }
  bool ProgressiveEncoding() const { return FProgressiveEncoding; }
  void SetProgressiveEncoding(bool Value) { FProgressiveEncoding = Value; }

  // The millisecond tick count that throttles progress notifications; a
  // steady clock unless replaced (tests replace it).
  using TTickSource = TProgressThrottle::TTickSource;
  void SetTickSource(TTickSource Source) { FThrottle.SetTickSource(std::move(Source)); }

 protected:
  // The worker's copy also takes the palette given for the decode and the tick source.
  std::unique_ptr<TGraphic> CopyForBackground() const override;
  void DecodeForBackground(const std::atomic<bool>& Cancel) override;
  void TakeDecoded(TGraphic& Worker) override;
  // With progressive display: the bitmap being decoded.
  const TBitmap* PartialPicture() override;

 private:
  // The decoder's settings that a multi-scan file shown scan by scan uses only
  // for its last pass.
  struct TFinalPass {
    int DctMethod;
    int DitherMode;
    bool TwoPassQuantize;
  };

  struct THeader {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    bool Grayscale = false;
    bool Progressive = false;
    TOrientation Orientation = orNormal;
  };

  void LoadBytes(std::shared_ptr<const TJpegBytes> Data);
  // Raises EJPEG for bytes that do not start with a JPEG header.
  static THeader ReadHeader(std::span<const std::uint8_t> Bytes);
  // Holds new compressed bytes (or none) with their header values, in place of
  // the previous ones and of the decoded bitmap.
  void Hold(std::shared_ptr<const TJpegBytes> Data, const THeader& H);
  // Opens D over the compressed bytes with this graphic's settings.
  TFinalPass SetUpDecoder(TJpegDecoder& D, int Shift) const;
  // Decodes into Target at a reduction of 1 << Shift (Shift at least Scale).
  void Decode(std::unique_ptr<TBitmap>& Target, int Shift);
  // The reduction (as a power of 2) that a drawing into R needs: the largest
  // whose output still covers R, at least Scale's and the limit's.
  int ShiftFor(const TRect& R) const;
  // The smallest reduction whose output stays within JpegPixelLimit(); 4 when
  // none does.
  int SmallestShift() const;
  // The header's size reduced by 1 << Shift, as the decoder rounds it.
  TPoint SizeAt(int Shift) const;
  // Whether the decoded pixels serve a drawing that needs reduction Shift.
  bool Covers(int Shift) const;
  // Decodes a draft at reduction Shift in place of the one held.
  void DecodeDraft(int Shift);
  // The decode from the start of decompression on; raises on failure.
  void DecodePixels(TJpegDecoder& D, const TFinalPass& Final, bool EightBit);
  // Decodes a reduced picture on two threads when the file allows it (see
  // JpegSplitDecode); false when the library must decode it.
  bool DecodeSplit(TJpegDecoder& D);
  // The output size before any turn: the header's, or the decoder's at a reduced scale.
  TPoint OutputSize() const;
  // Whether the displayed picture exchanges the output's width and height.
  bool Turned() const { return FAutoOrientation && SwapsAxes(FOrientation); }
  // Makes the rows of the bitmap from Row on black unless they were written or
  // made black already.
  void BlackenRowsFrom(std::int32_t Row);
  // Makes the decoder's colour map the bitmap's palette.
  void TakeColorMap(const TJpegDecoder& D, const TJpegRowPath& Path);
  // Stores a setting that alters the decoded picture: a decoded bitmap is dropped.
  template <class T>
  void SetOutputSetting(T& Field, T Value);
  void CheckNotDecoding() const;
  static void ProgressHook(void* Self, const jpeg_decompress_struct& Info);

  std::shared_ptr<const TJpegBytes> FData;
  std::int32_t FWidth = 0;
  std::int32_t FHeight = 0;
  bool FGrayscale = false;
  mutable bool FProgressive = false;
  TOrientation FOrientation = orNormal;
  // The orientation the running decode writes its rows in.
  TOrientation FDecodeOrientation = orNormal;
  std::unique_ptr<TBitmap> FBitmap;
  // The draft and its reduction (a power of 2, more than Scale's).
  std::unique_ptr<TBitmap> FDraft;
  int FDraftShift = 0;
  // The bitmap the running decode writes: FBitmap or FDraft.
  TBitmap* FTarget = nullptr;
  // The reduction the planned drawing needs; -1 when none was planned.
  int FPlannedShift = -1;
  mutable std::unique_ptr<TPalette> FTempPalette;
  bool FDecoding = false;
  // The bitmap of the running decode has rows that hold neither decoded pixels nor black.
  bool FRowsUnwritten = false;

  TJPEGPixelFormat FPixelFormat;
  bool FForceGrayscale;
  TJPEGPerformance FPerformance;
  TJPEGScale FScale;
  bool FSmoothing;
  bool FProgressiveDisplay;
  int FCompressionQuality;
  bool FProgressiveEncoding;
  bool FAutoOrientation;

  TProgressThrottle FThrottle;
  // Set on a copy decoded on a worker thread: the decode stops at its next
  // progress step once it is set.
  const std::atomic<bool>* FCancel = nullptr;
  // The first row not yet reported by the running decode's progress.
  std::int32_t FProgressRow = 0;
};
