#include "picture/jpeg/Jpeg.h"

#include <algorithm>
#include <cstring>

#include "picture/BackgroundDecode.h"
#include "picture/FileFormats.h"
#include "picture/jpeg/JpegDecoder_p.h"
#include "picture/jpeg/JpegPhoto_p.h"

KEST_CLASS_IMPL(TJPEGImage, TGraphic)

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

void TJPEGImage::LoadFromStream(TStream& Stream) { LoadBytes(Stream.ReadRest()); }

void TJPEGImage::LoadBytes(std::vector<std::uint8_t> Bytes) {
  auto Data = std::make_shared<const std::vector<std::uint8_t>>(std::move(Bytes));
  // The header is read before anything is replaced, so a file that is not a
  // JPEG image leaves the graphic as it was. A zero-length file has no header
  // to read: it fails at its first drawing instead.
  THeader H;
  if (!Data->empty()) {
    TJpegDecoder D;
    D.Open(*Data);
    H.Width = static_cast<std::int32_t>(D.Info().image_width);
    H.Height = static_cast<std::int32_t>(D.Info().image_height);
    H.Grayscale = D.Info().jpeg_color_space == JCS_GRAYSCALE;
    H.Progressive = D.HasMultipleScans();
    H.Orientation = JpegOrientation(D.Info());
  }
  Hold(std::move(Data), H);
}

void TJPEGImage::Hold(std::shared_ptr<const std::vector<std::uint8_t>> Data, const THeader& H) {
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
  FScaledSize.reset();
  FPaletteModified = true;
  Changed(this);
}

void TJPEGImage::SaveToStream(TStream& Stream) const {
  if (FData && !FData->empty()) Stream.WriteBuffer(FData->data(), FData->size());
}

void TJPEGImage::ReadData(TStream& Stream) {
  const std::uint32_t L = Stream.ReadUInt32LE();
  if (static_cast<std::uint64_t>(Stream.Remaining()) < L) throw EReadError("Stream read error");
  if (L > 0) {
    LoadBytes(Stream.ReadBytes(L));
    return;
  }
  // Length 0 is what an empty graphic writes: it reads back as an empty
  // graphic, not as a zero-length file whose drawing fails.
  Hold(nullptr, THeader{});
}

void TJPEGImage::WriteData(TStream& Stream) const {
  const std::size_t L = FData ? FData->size() : 0;
  if (L > 0xFFFFFFFFu) throw EWriteError("Stream write error");
  Stream.WriteUInt32LE(static_cast<std::uint32_t>(L));
  SaveToStream(Stream);
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
  FTempPalette.reset();
  FScaledSize = J->FScaledSize;
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

TPoint TJPEGImage::OutputSize() const {
  if (FScale == jsFullSize || !FData || FData->empty()) return {FWidth, FHeight};
  if (!FScaledSize) {
    TJpegDecoder D;
    SetUpDecoder(D);
    D.CalcOutputDimensions();
    FScaledSize = TPoint{static_cast<std::int32_t>(D.Info().output_width),
                         static_cast<std::int32_t>(D.Info().output_height)};
    FProgressive = D.HasMultipleScans();
  }
  return *FScaledSize;
}

void TJPEGImage::SetWidth(std::int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }
void TJPEGImage::SetHeight(std::int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

HPALETTE TJPEGImage::Palette() const {
  if (FBitmap) return FBitmap->Palette();
  if (FTempPalette) return FTempPalette.get();
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
  FScaledSize.reset();
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

TJPEGImage::TFinalPass TJPEGImage::SetUpDecoder(TJpegDecoder& D) const {
  D.Open(FData ? std::span<const std::uint8_t>(*FData) : std::span<const std::uint8_t>());
  jpeg_decompress_struct& I = D.Info();
  I.scale_num = 1;
  I.scale_denom = 1u << FScale;
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
  if (!FBitmap && FData) Decode();
  return FBitmap.get();
}

void TJPEGImage::DrawInto(TCanvas& ACanvas, const TRect& R) {
  if (!Bitmap()) return;
  FBitmap->SetTransparent(FTransparent);
  FBitmap->DrawInto(ACanvas, R);
}

void TJPEGImage::Decode() {
  // The bitmap is kept from the start: a drawing requested from inside the
  // decode (by a progress handler) draws what is there so far, and a failed
  // decode is not tried again.
  FBitmap = std::make_unique<TBitmap>();
  TJpegDecoder D;
  const TFinalPass Final = SetUpDecoder(D);
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
  FBitmap->PixelsChanged();
  Progress(this, psEnding, Failure ? 0 : 100, FPaletteModified, TRect{}, "");
  if (FPaletteModified) Changed(this);
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
    FBitmap->SetColorTable(FTempPalette->Entries());
    MakePalette = false;
  } else if (FTempPalette && !EightBit) {
    FTempPalette.reset();
  }

  D.StartDecompress();
  FDecodeOrientation = FAutoOrientation ? FOrientation : orNormal;
  const TPoint Size = OrientedSize(FDecodeOrientation, static_cast<std::int32_t>(I.output_width),
                                   static_cast<std::int32_t>(I.output_height));
  FBitmap->AllocateImage(Size.X, Size.Y, EightBit ? 8 : 24, false);
  FRowsUnwritten = true;
  TJpegRowPath Path(I, *FBitmap, FDecodeOrientation, JpegProfileTransform(I, EightBit));
  // Rows that are converted or turned reach the bitmap in no simple order:
  // it starts black.
  if (!Path.Direct()) BlackenRowsFrom(0);
  if (Inks && EightBit) {
    std::vector<std::uint32_t> Grays(256);
    for (std::uint32_t G = 0; G < 256; ++G) Grays[G] = G * 0x010101u;
    FBitmap->SetColorTable(std::move(Grays));
    FPaletteModified = true;
  }
  // Several rows per call when the rows lie at a positive distance that keeps
  // each row aligned, as the library's rows would be.
  const std::ptrdiff_t Stride = FBitmap->Stride();
  const int RowsPerCall = Stride > 0 && Stride % 4 == 0 ? I.rec_outbuf_height : 1;
  std::uint8_t* const First = FBitmap->ScanLine(0);
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

std::unique_ptr<TGraphic> TJPEGImage::CopyForBackground() const {
  auto Copy = std::make_unique<TJPEGImage>();
  Copy->Assign(this);
  if (FTempPalette) Copy->FTempPalette = std::make_unique<TPalette>(FTempPalette->Entries());
  Copy->SetTickSource(FThrottle.TickSource());
  return Copy;
}

void TJPEGImage::DecodeForBackground(const std::atomic<bool>& Cancel) {
  FCancel = &Cancel;
  Bitmap();
}

const TBitmap* TJPEGImage::PartialPicture() { return FProgressiveDisplay ? FBitmap.get() : nullptr; }

void TJPEGImage::TakeDecoded(TGraphic& Worker) {
  auto& J = static_cast<TJPEGImage&>(Worker);
  FBitmap = std::move(J.FBitmap);
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
  for (std::int32_t Y = std::max(Row, 0); Y < FBitmap->Height(); ++Y)
    std::memset(FBitmap->ScanLine(Y), 0, static_cast<std::size_t>(FBitmap->Stride()));
}

void TJPEGImage::TakeColorMap(const TJpegDecoder& D, const TJpegRowPath& Path) {
  std::vector<std::uint32_t> Map = D.ColorMap();
  Path.ConvertTable(Map);
  FBitmap->SetColorTable(std::move(Map));
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
  J.FProgressRow = static_cast<std::int32_t>(I.output_scanline);
  J.BlackenRowsFrom(J.FProgressRow);
  J.FBitmap->PixelsChanged();
  J.Progress(&J, psRunning, static_cast<std::uint8_t>(Percent), R.Height() >= 4, R, "");
}
