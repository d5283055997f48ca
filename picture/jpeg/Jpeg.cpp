#include "picture/jpeg/Jpeg.h"

#include <algorithm>
#include <cstring>

#include <jerror.h>

#include "picture/decoding/BackgroundDecode.h"
#include "picture/FileFormats.h"
#include "picture/jpeg/JpegBytes_p.h"
#include "picture/jpeg/JpegDecoder_p.h"
#include "picture/jpeg/JpegSplitDecode_p.h"
#include "picture/jpeg/JpegPhoto_p.h"
#include "toolkit/SysUtils.h"

KEST_CLASS_IMPL(TJPEGImage, TGraphic)

bool TJPEGImage::HasSignature(std::span<const std::uint8_t> Head) {
  return HeadHas(Head, 0, "\xFF\xD8\xFF");
}

namespace {

// Colours of 8-bit output: the 256 of a palette less the 20 a palettised
// screen keeps for itself.
constexpr int QuantizedColors = 236;

bool ScreenHasPalette() {
  const TDisplayInfo& S = DisplayInfo();
  return S.BitsPerPixel * S.Planes <= 8;
}

}  // namespace

TJPEGDefaults& DefaultJpegSettings() {
  static TJPEGDefaults Defaults;
  return Defaults;
}

void InitializeJpegSupport() {
  DefaultJpegSettings().PixelFormat = ScreenHasPalette() ? jf8Bit : jf24Bit;
  TFileFormatsList& Formats = TFileFormatsList::Instance();
  Formats.UnregisterClass(TJPEGImage::StaticClass());
  Formats.RegisterSignature(TJPEGImage::StaticClass(), &TJPEGImage::HasSignature);
  Formats.RegisterFormat("jpeg", "JPEG Image File", TJPEGImage::StaticClass());
  Formats.RegisterFormat("jpg", "JPEG Image File", TJPEGImage::StaticClass());
}

void FinalizeJpegSupport() { TFileFormatsList::Instance().UnregisterClass(TJPEGImage::StaticClass()); }

// ---------------------------------------------------------------------------
// Creation, loading, stored data

TJPEGImage::TJPEGImage() {
  const TJPEGDefaults& D = DefaultJpegSettings();
  FPixelFormat = D.PixelFormat;
  FForceGrayscale = D.ForceGrayscale;
  FPerformance = D.Performance;
  FScale = D.Scale;
  FSmoothing = D.Smoothing;
  FProgressiveDisplay = D.ProgressiveDisplay;
  FCompressionQuality = D.CompressionQuality;
  FProgressiveEncoding = D.ProgressiveEncoding;
  FAutoOrientation = D.AutoOrientation;
}

TJPEGImage::~TJPEGImage() = default;

namespace {

// Bytes of a file read at loading: the header of nearly every photograph, its
// orientation and colour profile included. A header longer than this is read
// from the whole file.
constexpr std::size_t HeaderBytes = 256 * 1024;

}  // namespace

void TJPEGImage::LoadFromStream(TStream& Stream) {
  LoadBytes(std::make_shared<const TJpegBytes>(Stream.ReadRest()));
}

void TJPEGImage::LoadFromFileBytes(TFileBytes&& Bytes) {
  LoadBytes(std::make_shared<const TJpegBytes>(std::move(Bytes)));
}

void TJPEGImage::LoadFromFile(const std::string& FileName) {
  ReportingMemory([&] { LoadBytes(TJpegBytes::Open(FileName, HeaderBytes)); });
}

void TJPEGImage::LoadBytes(std::shared_ptr<const TJpegBytes> Data) {
  // The header is read before anything is replaced, so a file that is not a
  // JPEG image leaves the graphic as it was. A zero-length file has no header
  // to read: it fails at its first drawing instead.
  THeader H;
  if (!Data->Empty()) {
    // From the start of a file that is not read whole yet; when that does not
    // hold the whole header, from the whole file, which also gives the error
    // of a file that is not a JPEG image.
    bool Read = false;
    if (!Data->Complete()) {
      try {
        H = ReadHeader(Data->Start());
        Read = true;
      } catch (const EJPEG&) {
      }
    }
    if (!Read) H = ReadHeader(Data->All());
  }
  Hold(std::move(Data), H);
}

TJPEGImage::THeader TJPEGImage::ReadHeader(std::span<const std::uint8_t> Bytes) {
  TJpegDecoder D;
  D.Open(Bytes);
  THeader H;
  H.Width = static_cast<std::int32_t>(D.Info().image_width);
  H.Height = static_cast<std::int32_t>(D.Info().image_height);
  H.Grayscale = D.Info().jpeg_color_space == JCS_GRAYSCALE;
  H.Progressive = D.HasMultipleScans();
  H.Orientation = JpegOrientation(D.Info());
  return H;
}

void TJPEGImage::Hold(std::shared_ptr<const TJpegBytes> Data, const THeader& H) {
  CheckNotDecoding();
  CancelBackgroundDecode();
  FData = std::move(Data);
  FWidth = H.Width;
  FHeight = H.Height;
  FGrayscale = H.Grayscale;
  FProgressive = H.Progressive;
  FProgressiveEncoding = H.Progressive;
  FOrientation = H.Orientation;
  FBitmap.reset();
  FDraft.reset();
  FPlannedShift = -1;
  FPaletteModified = true;
  Changed(this);
}

void TJPEGImage::SaveToStream(TStream& Stream) const {
  if (!FData || FData->Empty()) return;
  const std::span<const std::uint8_t> Bytes = FData->All();
  Stream.WriteBuffer(Bytes.data(), Bytes.size());
}

void TJPEGImage::ReadData(TStream& Stream) {
  const std::uint32_t L = Stream.ReadUInt32LE();
  if (static_cast<std::uint64_t>(Stream.Remaining()) < L) throw EReadError("Stream read error");
  if (L > 0) {
    LoadBytes(std::make_shared<const TJpegBytes>(Stream.ReadBytes(L)));
    return;
  }
  // Length 0 is what an empty graphic writes: it reads back as an empty
  // graphic, not as a zero-length file whose drawing fails.
  Hold(nullptr, THeader{});
}

void TJPEGImage::WriteData(TStream& Stream) const {
  // The bytes are read before anything is written: a file that cannot be
  // read any more leaves the stream as it was.
  const std::span<const std::uint8_t> Bytes =
      FData && !FData->Empty() ? FData->All() : std::span<const std::uint8_t>();
  if (Bytes.size() > 0xFFFFFFFFu) throw EWriteError("Stream write error");
  Stream.WriteUInt32LE(static_cast<std::uint32_t>(Bytes.size()));
  if (!Bytes.empty()) Stream.WriteBuffer(Bytes.data(), Bytes.size());
}

void TJPEGImage::Assign(const TPersistent* Source) {
  const auto* J = dynamic_cast<const TJPEGImage*>(Source);
  if (!J) {
    TGraphic::Assign(Source);
    return;
  }
  if (J == this) return;
  CheckNotDecoding();
  CancelBackgroundDecode();
  std::unique_ptr<TBitmap> Copy;
  if (J->FBitmap) {
    Copy = std::make_unique<TBitmap>();
    Copy->Assign(J->FBitmap.get());
  }
  FData = J->FData;
  FWidth = J->FWidth;
  FHeight = J->FHeight;
  FGrayscale = J->FGrayscale;
  FProgressive = J->FProgressive;
  FOrientation = J->FOrientation;
  FBitmap = std::move(Copy);
  // A draft belongs to the drawings of the graphic that made it.
  FDraft.reset();
  FTempPalette.reset();
  FPixelFormat = J->FPixelFormat;
  FForceGrayscale = J->FForceGrayscale;
  FPerformance = J->FPerformance;
  FScale = J->FScale;
  FSmoothing = J->FSmoothing;
  FProgressiveDisplay = J->FProgressiveDisplay;
  FCompressionQuality = J->FCompressionQuality;
  FProgressiveEncoding = J->FProgressiveEncoding;
  FAutoOrientation = J->FAutoOrientation;
  FTransparent = J->FTransparent;
  FPaletteModified = true;
  Changed(this);
}

// ---------------------------------------------------------------------------
// Size, palette, settings

bool TJPEGImage::Empty() const { return !FData && (!FBitmap || FBitmap->Empty()); }

std::int32_t TJPEGImage::Width() const {
  if (FBitmap) return FBitmap->Width();
  const TPoint S = OutputSize();
  return Turned() ? S.Y : S.X;
}

std::int32_t TJPEGImage::Height() const {
  if (FBitmap) return FBitmap->Height();
  const TPoint S = OutputSize();
  return Turned() ? S.X : S.Y;
}

TPoint TJPEGImage::OutputSize() const { return SizeAt(FScale); }

void TJPEGImage::SetWidth(std::int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }
void TJPEGImage::SetHeight(std::int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

HPALETTE TJPEGImage::Palette() const {
  if (FBitmap) return FBitmap->Palette();
  if (FTempPalette) return FTempPalette.get();
  if (FDraft && FDraft->Palette()) return FDraft->Palette();
  if (FPixelFormat == jf24Bit && ScreenHasPalette()) {
    FTempPalette = CreateHalftonePalette();
    return FTempPalette.get();
  }
  return nullptr;
}

void TJPEGImage::SetPalette(HPALETTE Value) {
  // A running decode maps to the palette it started with.
  CancelBackgroundDecode();
  if (FBitmap) {
    FBitmap->SetPalette(Value);
    FPaletteModified = FBitmap->PaletteModified();
    Changed(this);
    return;
  }
  // A draft was mapped to the palette before.
  FDraft.reset();
  if (!Value) {
    FTempPalette.reset();
    return;
  }
  std::vector<std::uint32_t> Entries = Value->Entries();
  Entries.resize(std::min<std::size_t>(Entries.size(), 256));
  FTempPalette = std::make_unique<TPalette>(std::move(Entries));
}

// The bitmap is written to while a decode runs; a progress handler that tried
// to replace it would leave the decode writing into freed memory.
void TJPEGImage::CheckNotDecoding() const {
  if (FDecoding) throw EInvalidGraphicOperation("Cannot change a JPEG image while it is being decoded");
}

template <class T>
void TJPEGImage::SetOutputSetting(T& Field, T Value) {
  if (Value == Field) return;
  CheckNotDecoding();
  CancelBackgroundDecode();
  Field = Value;
  FBitmap.reset();
  FDraft.reset();
  FPlannedShift = -1;
  Changed(this);
}

void TJPEGImage::SetPixelFormat(TJPEGPixelFormat Value) { SetOutputSetting(FPixelFormat, Value); }
void TJPEGImage::SetForceGrayscale(bool Value) { SetOutputSetting(FForceGrayscale, Value); }
void TJPEGImage::SetPerformance(TJPEGPerformance Value) { SetOutputSetting(FPerformance, Value); }
void TJPEGImage::SetScale(TJPEGScale Value) { SetOutputSetting(FScale, Value); }
void TJPEGImage::SetSmoothing(bool Value) { SetOutputSetting(FSmoothing, Value); }
void TJPEGImage::SetAutoOrientation(bool Value) { SetOutputSetting(FAutoOrientation, Value); }

// ---------------------------------------------------------------------------
// Decoding

TJPEGImage::TFinalPass TJPEGImage::SetUpDecoder(TJpegDecoder& D, int Shift) const {
  if (FData)
    D.Open(*FData);
  else
    D.Open(std::span<const std::uint8_t>());
  jpeg_decompress_struct& I = D.Info();
  I.scale_num = 1;
  I.scale_denom = 1u << Shift;
  I.do_block_smoothing = FSmoothing;
  if (FForceGrayscale) I.out_color_space = JCS_GRAYSCALE;
  if (FPixelFormat == jf8Bit || I.out_color_space == JCS_GRAYSCALE) {
    I.quantize_colors = TRUE;
    I.desired_number_of_colors = QuantizedColors;
  }
  if (FPerformance == jpBestSpeed) {
    I.dct_method = JDCT_IFAST;
    I.two_pass_quantize = FALSE;
    I.dither_mode = JDITHER_ORDERED;
  }
  const TFinalPass Final{I.dct_method, I.dither_mode, I.two_pass_quantize != FALSE};
  if (FProgressiveDisplay && D.HasMultipleScans()) {
    // The scans before the last are shown quickly; the final pass gets the
    // settings above back.
    I.enable_2pass_quant = I.two_pass_quantize;
    I.dct_method = JDCT_IFAST;
    I.two_pass_quantize = FALSE;
    I.dither_mode = JDITHER_ORDERED;
    I.buffered_image = TRUE;
  }
  AdaptJpegOutput(I);
  return Final;
}

const TBitmap* TJPEGImage::Bitmap() {
  FinishBackgroundDecode();
  if (!FBitmap && FData) {
    // A picture too large to decode at full size is refused before anything
    // is kept: its drawings still decode drafts.
    if (SmallestShift() > FScale) throw EJPEG(Format("JPEG error #%d", {static_cast<int>(JERR_IMAGE_TOO_BIG)}));
    Decode(FBitmap, FScale);
    FDraft.reset();
  }
  return FBitmap.get();
}

TPoint TJPEGImage::SizeAt(int Shift) const {
  const auto Reduce = [Shift](std::int32_t V) {
    return static_cast<std::int32_t>((std::int64_t{V} + (std::int64_t{1} << Shift) - 1) >> Shift);
  };
  return {Reduce(FWidth), Reduce(FHeight)};
}

int TJPEGImage::SmallestShift() const {
  int Shift = FScale;
  for (; Shift <= 3; ++Shift) {
    const TPoint S = SizeAt(Shift);
    if (static_cast<std::uint64_t>(S.X) * static_cast<std::uint64_t>(S.Y) <= JpegPixelLimit()) break;
  }
  return Shift;
}

int TJPEGImage::ShiftFor(const TRect& R) const {
  // R is in the displayed orientation; the reduced size is the file's.
  std::int64_t W = std::abs(std::int64_t{R.Right} - R.Left), H = std::abs(std::int64_t{R.Bottom} - R.Top);
  if (Turned()) std::swap(W, H);
  int Shift = FScale;
  while (Shift < 3) {
    const TPoint S = SizeAt(Shift + 1);
    if (S.X < W || S.Y < H) break;
    ++Shift;
  }
  return std::max(Shift, SmallestShift());
}

bool TJPEGImage::Covers(int Shift) const { return FBitmap || (FDraft && FDraftShift <= Shift); }

bool TJPEGImage::NeedsDecode() const {
  if (!FData || BackgroundDecoding()) return false;
  return FPlannedShift < 0 ? !FBitmap : !Covers(FPlannedShift);
}

void TJPEGImage::PlanDrawing(const TRect& R) {
  FPlannedShift = FData && !FData->Empty() ? ShiftFor(R) : -1;
}

void TJPEGImage::DecodeDraft(int Shift) {
  // A draft whose decode failed is kept as it is and not decoded again at
  // this reduction, as a failed full decode is not tried again.
  FDraftShift = Shift;
  Decode(FDraft, Shift);
}

void TJPEGImage::DrawInto(TCanvas& ACanvas, const TRect& R) {
  TBitmap* Shown = nullptr;
  if (FDecoding) {
    // A drawing from inside the decode (by a progress handler): what is there so far.
    Shown = FTarget;
  } else if (FBitmap || !FData || FData->Empty()) {
    Shown = const_cast<TBitmap*>(Bitmap());
  } else {
    const int Shift = ShiftFor(R);
    if (Shift == FScale) {
      Shown = const_cast<TBitmap*>(Bitmap());
    } else {
      // While a decode runs on a worker thread a draft is shown as it is;
      // without one the drawing waits for the decode.
      if (BackgroundDecoding() && !FDraft) FinishBackgroundDecode();
      if (!FBitmap && !BackgroundDecoding() && !Covers(Shift)) DecodeDraft(Shift);
      Shown = FBitmap ? FBitmap.get() : FDraft.get();
    }
  }
  if (!Shown) return;
  Shown->SetTransparent(FTransparent);
  Shown->DrawInto(ACanvas, R);
}

bool TJPEGImage::DrawWhileDecoding(TCanvas& ACanvas, const TRect& R) {
  if (FBitmap || !FDraft || !BackgroundDecoding()) return false;
  FDraft->SetTransparent(FTransparent);
  FDraft->DrawInto(ACanvas, R);
  return true;
}

void TJPEGImage::Decode(std::unique_ptr<TBitmap>& Target, int Shift) {
  // The bitmap is kept from the start: a drawing requested from inside the
  // decode (by a progress handler) draws what is there so far, and a failed
  // decode is not tried again.
  Target = std::make_unique<TBitmap>();
  FTarget = Target.get();
  TJpegDecoder D;
  const TFinalPass Final = SetUpDecoder(D, Shift);
  FThrottle.Start(true);
  FProgressRow = 0;
  D.AttachProgress(ProgressHook, this);
  // Inks (CMYK, YCCK) are decoded as such and converted by the row path: to
  // 24-bit colour, or to gray when gray output is forced.
  const bool Inks = JpegIsCmyk(D.Info());
  const bool EightBit =
      Inks ? FForceGrayscale : FPixelFormat == jf8Bit || D.Info().out_color_space == JCS_GRAYSCALE;
  // Colour output in the bitmap's own byte order, or red, green, blue for the
  // colour map of quantised output.
  if (!Inks && D.Info().out_color_space != JCS_GRAYSCALE) D.Info().out_color_space = EightBit ? JCS_RGB : JCS_EXT_BGR;

  Progress(this, psStarting, 0, false, TRect{}, "");
  std::exception_ptr Failure;
  FDecoding = true;
  try {
    DecodePixels(D, Final, EightBit);
  } catch (...) {
    Failure = std::current_exception();
  }
  FDecoding = false;
  // A cancelled decode's bitmap is thrown away: no rows are filled in for it.
  if (Failure && !(FCancel && FCancel->load(std::memory_order_relaxed)))
    BlackenRowsFrom(static_cast<std::int32_t>(D.Info().output_scanline));
  FTarget->PixelsChanged();
  Progress(this, psEnding, Failure ? 0 : 100, FPaletteModified, TRect{}, "");
  // A draft is internal to drawing: its palette is realised by the drawing
  // that shows it, and no change is raised (a change resets a view's zoom,
  // which would undo the drawing at a small size that asked for the draft).
  if (FPaletteModified && FTarget == FBitmap.get()) Changed(this);
  if (!Failure) return;
  try {
    std::rethrow_exception(Failure);
  } catch (const EAbort&) {
    // A progress handler asked to stop: the decode ends without an error.
  }
}

void TJPEGImage::DecodePixels(TJpegDecoder& D, const TFinalPass& Final, bool EightBit) {
  jpeg_decompress_struct& I = D.Info();
  // A palette given before the decode is what 8-bit colour output maps to. The
  // library maps only three-component output to a given colour map; gray
  // output keeps its own gray levels.
  bool MakePalette = true;
  const bool Inks = JpegIsCmyk(I);
  if (FTempPalette && EightBit && I.out_color_space != JCS_GRAYSCALE && !Inks) {
    D.SetColorMap(FTempPalette->Entries());
    FTarget->SetColorTable(FTempPalette->Entries());
    MakePalette = false;
  } else if (FTempPalette && !EightBit) {
    FTempPalette.reset();
  }

  FDecodeOrientation = FAutoOrientation ? FOrientation : orNormal;
  if (!EightBit && !Inks && !I.buffered_image && DecodeSplit(D)) return;
  D.StartDecompress();
  const TPoint Size = OrientedSize(FDecodeOrientation, static_cast<std::int32_t>(I.output_width),
                                   static_cast<std::int32_t>(I.output_height));
  FTarget->AllocateImage(Size.X, Size.Y, EightBit ? 8 : 24, false);
  FRowsUnwritten = true;
  TJpegRowPath Path(I, *FTarget, FDecodeOrientation, JpegProfileTransform(I, EightBit));
  // Rows that are converted or turned reach the bitmap in no simple order:
  // it starts black.
  if (!Path.Direct()) BlackenRowsFrom(0);
  if (Inks && EightBit) {
    std::vector<std::uint32_t> Grays(256);
    for (std::uint32_t G = 0; G < 256; ++G) Grays[G] = G * 0x010101u;
    FTarget->SetColorTable(std::move(Grays));
    FPaletteModified = true;
  }
  // Several rows per call when the rows lie at a positive distance that keeps
  // each row aligned, as the library's rows would be.
  const std::ptrdiff_t Stride = FTarget->Stride();
  const int RowsPerCall = Stride > 0 && Stride % 4 == 0 ? I.rec_outbuf_height : 1;
  std::uint8_t* const First = FTarget->ScanLine(0);
  const auto ReadPass = [&] {
    if (Path.Direct())
      D.ReadRows(First, Stride, RowsPerCall);
    else
      Path.ReadPass(D);
  };

  if (I.buffered_image) {
    bool FirstPass = true;
    while (D.ConsumeInput() != JPEG_REACHED_EOI) {
      D.StartOutput(I.input_scan_number);
      if (FirstPass && I.colormap && MakePalette) TakeColorMap(D, Path);
      ReadPass();
      FRowsUnwritten = false;
      D.FinishOutput();
      FirstPass = false;
    }
    I.dct_method = static_cast<J_DCT_METHOD>(Final.DctMethod);
    I.dither_mode = static_cast<J_DITHER_MODE>(Final.DitherMode);
    // A given colour map stays for the final pass: the bitmap's palette is that map.
    if (Final.TwoPassQuantize && MakePalette) {
      I.two_pass_quantize = TRUE;
      I.colormap = nullptr;
    }
    D.StartOutput(I.input_scan_number);
  }
  if ((!I.buffered_image || Final.TwoPassQuantize) && I.colormap && MakePalette) TakeColorMap(D, Path);
  ReadPass();
  FRowsUnwritten = false;
  if (I.buffered_image) D.FinishOutput();
  D.FinishDecompress();
}

bool TJPEGImage::DecodeSplit(TJpegDecoder& D) {
  jpeg_decompress_struct& I = D.Info();
  if (FDecodeOrientation != orNormal || !JpegSplitSettings().Enabled) return false;
  D.CalcOutputDimensions();
  if (std::uint64_t{I.output_width} * I.output_height > JpegPixelLimit() || !JpegSplitSuits(I)) return false;
  if (JpegProfileTransform(I, false)) return false;
  FTarget->AllocateImage(static_cast<std::int32_t>(I.output_width), static_cast<std::int32_t>(I.output_height), 24, false);
  FRowsUnwritten = true;
  const auto RowsDone = [this, &I](std::uint32_t Rows) {
    // Progress as the library's monitor reports it over one pass.
    I.output_scanline = Rows;
    if (!I.progress) return;
    I.progress->completed_passes = 0;
    I.progress->total_passes = 1;
    I.progress->pass_counter = Rows;
    I.progress->pass_limit = I.output_height;
    ProgressHook(this, I);
  };
  if (!JpegSplitDecode(I, D.ScanData(), FTarget->ScanLine(0), FTarget->Stride(), RowsDone)) return false;
  FRowsUnwritten = false;
  return true;
}

std::unique_ptr<TGraphic> TJPEGImage::CopyForBackground() const {
  auto Copy = std::make_unique<TJPEGImage>();
  Copy->Assign(this);
  if (FTempPalette) Copy->FTempPalette = std::make_unique<TPalette>(FTempPalette->Entries());
  Copy->SetTickSource(FThrottle.TickSource());
  Copy->FPlannedShift = FPlannedShift;
  return Copy;
}

void TJPEGImage::DecodeForBackground(const std::atomic<bool>& Cancel) {
  FCancel = &Cancel;
  if (FPlannedShift > FScale)
    DecodeDraft(FPlannedShift);
  else
    Bitmap();
}

// The bitmap being decoded: the full picture's or a draft's.
const TBitmap* TJPEGImage::PartialPicture() { return FProgressiveDisplay ? FTarget : nullptr; }

void TJPEGImage::TakeDecoded(TGraphic& Worker) {
  auto& J = static_cast<TJPEGImage&>(Worker);
  FBitmap = std::move(J.FBitmap);
  if (FBitmap) {
    FDraft.reset();
  } else if (J.FDraft) {
    FDraft = std::move(J.FDraft);
    FDraftShift = J.FDraftShift;
  }
  FTempPalette = std::move(J.FTempPalette);
  FPaletteModified = J.FPaletteModified;
  FProgressive = J.FProgressive;
}

// The bitmap's memory is not cleared when it is allocated: a decode that
// succeeds without being watched writes every row, and clearing would cost a
// pass over the whole picture. Rows not yet written are made black as soon as
// anyone can look at them: before a progress notification, or after a failure.
void TJPEGImage::BlackenRowsFrom(std::int32_t Row) {
  if (!FRowsUnwritten) return;
  FRowsUnwritten = false;
  for (std::int32_t Y = std::max(Row, 0); Y < FTarget->Height(); ++Y)
    std::memset(FTarget->ScanLine(Y), 0, static_cast<std::size_t>(FTarget->Stride()));
}

void TJPEGImage::TakeColorMap(const TJpegDecoder& D, const TJpegRowPath& Path) {
  std::vector<std::uint32_t> Map = D.ColorMap();
  Path.ConvertTable(Map);
  FTarget->SetColorTable(std::move(Map));
  FPaletteModified = true;
}

// At most one notification per interval, and only when the whole percentage
// has changed; the first call only starts the clock. R is the band of rows
// decoded since the previous notification.
void TJPEGImage::ProgressHook(void* Self, const jpeg_decompress_struct& I) {
  TJPEGImage& J = *static_cast<TJPEGImage*>(Self);
  if (J.FCancel && J.FCancel->load(std::memory_order_relaxed)) throw EDecodeCancelled();
  const jpeg_progress_mgr& P = *I.progress;
  // The library may report a zero pass limit or more passes than it announced.
  const double PassDone = P.pass_limit > 0 ? static_cast<double>(P.pass_counter) / P.pass_limit : 0.0;
  const double Done = P.total_passes > 0 ? 100.0 * (P.completed_passes + PassDone) / P.total_passes : 0.0;
  const int Percent = static_cast<int>(std::clamp(Done, 0.0, 100.0));
  if (!J.FThrottle.Due(Percent)) return;

  TRect R{0, J.FProgressRow, static_cast<std::int32_t>(I.output_width), static_cast<std::int32_t>(I.output_scanline)};
  if (R.Bottom < J.FProgressRow) R.Bottom = static_cast<std::int32_t>(I.output_height);  // a new pass has begun
  if (J.FDecodeOrientation != orNormal)
    R = OrientedRows(J.FDecodeOrientation, R.Right, static_cast<std::int32_t>(I.output_height), R.Top, R.Bottom);
  if (J.FTarget != J.FBitmap.get()) {
    // A draft's rows, in the picture's pixels.
    const int K = J.FDraftShift - J.FScale;
    const auto Up = [K](std::int32_t V, std::int32_t Max) {
      return static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{V} << K, Max));
    };
    R = TRect{Up(R.Left, J.Width()), Up(R.Top, J.Height()), Up(R.Right, J.Width()), Up(R.Bottom, J.Height())};
  }
  J.FProgressRow = static_cast<std::int32_t>(I.output_scanline);
  J.BlackenRowsFrom(J.FProgressRow);
  J.FTarget->PixelsChanged();
  J.Progress(&J, psRunning, static_cast<std::uint8_t>(Percent), R.Height() >= 4, R, "");
}
