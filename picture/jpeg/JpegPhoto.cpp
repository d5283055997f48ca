#include "picture/jpeg/JpegPhoto_p.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace {

constexpr int Exif = JPEG_APP0 + 1;
constexpr int Icc = JPEG_APP0 + 2;
// "ICC_PROFILE\0", then the chunk's sequence number and the chunk count.
constexpr std::uint8_t IccSignature[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
constexpr std::size_t IccHeader = 14;

std::span<const std::uint8_t> MarkerData(const jpeg_marker_struct& M) { return {M.data, M.data_length}; }

}  // namespace

void SaveJpegPhotoMarkers(jpeg_decompress_struct& Info) {
  jpeg_save_markers(&Info, Exif, 0xFFFF);
  jpeg_save_markers(&Info, Icc, 0xFFFF);
}

TOrientation JpegOrientation(const jpeg_decompress_struct& Info) {
  static constexpr std::uint8_t Prefix[6] = {'E', 'x', 'i', 'f', 0, 0};
  for (const jpeg_marker_struct* M = Info.marker_list; M; M = M->next) {
    const auto Data = MarkerData(*M);
    if (M->marker == Exif && Data.size() >= 6 && std::equal(Prefix, Prefix + 6, Data.begin()))
      return ReadExifOrientation(Data);
  }
  return orNormal;
}

std::vector<std::uint8_t> JpegIccProfile(const jpeg_decompress_struct& Info) {
  std::span<const std::uint8_t> Chunks[256];
  int Count = 0;
  for (const jpeg_marker_struct* M = Info.marker_list; M; M = M->next) {
    const auto Data = MarkerData(*M);
    if (M->marker != Icc || Data.size() < IccHeader || !std::equal(IccSignature, IccSignature + 12, Data.begin()))
      continue;
    const int Seq = Data[12], N = Data[13];
    // Every chunk names the same count and its own place in it, once.
    if (N == 0 || (Count && N != Count) || Seq == 0 || Seq > N || !Chunks[Seq].empty()) return {};
    Count = N;
    Chunks[Seq] = Data.subspan(IccHeader);
    if (Chunks[Seq].empty()) return {};
  }
  std::vector<std::uint8_t> Profile;
  for (int S = 1; S <= Count; ++S) {
    if (Chunks[S].empty()) return {};
    Profile.insert(Profile.end(), Chunks[S].begin(), Chunks[S].end());
  }
  return Profile;
}

bool JpegIsCmyk(const jpeg_decompress_struct& Info) {
  return Info.jpeg_color_space == JCS_CMYK || Info.jpeg_color_space == JCS_YCCK;
}

void AdaptJpegOutput(jpeg_decompress_struct& Info) {
  if (!JpegIsCmyk(Info)) return;
  // The library converts YCCK to CMYK but inks to nothing else; the row path
  // makes colours (or gray) of them.
  Info.out_color_space = JCS_CMYK;
  Info.quantize_colors = FALSE;
}

std::unique_ptr<TColorTransform> JpegProfileTransform(const jpeg_decompress_struct& Info, bool EightBitOutput) {
  const std::vector<std::uint8_t> Profile = JpegIccProfile(Info);
  if (Profile.empty()) return nullptr;
  TProfilePixels Pixels = ppBGR8;
  if (JpegIsCmyk(Info))
    Pixels = Info.saw_Adobe_marker ? ppCMYK8Inverted : ppCMYK8;
  else if (EightBitOutput && Info.out_color_space == JCS_GRAYSCALE)
    Pixels = ppGray8;
  return TColorTransform::ToSrgb(Profile, Pixels);
}

// ---------------------------------------------------------------------------
// TJpegRowPath

TJpegRowPath::TJpegRowPath(const jpeg_decompress_struct& Info, TBitmap& Target, TOrientation O,
                           std::unique_ptr<TColorTransform> Transform)
    : FTransform(std::move(Transform)),
      FWriter(Target, O, static_cast<std::int32_t>(Info.output_width), static_cast<std::int32_t>(Info.output_height)),
      FInks(Info.out_color_space == JCS_CMYK), FInverted(Info.saw_Adobe_marker != FALSE),
      FGrayOut(Target.BitsPerPixel() == 8), FComponents(Info.out_color_components),
      FWidth(static_cast<std::int32_t>(Info.output_width)) {
  // Quantised and gray output is converted through its colour table, not per pixel.
  const bool PerPixelProfile = FTransform && !Info.quantize_colors && Info.out_color_space != JCS_GRAYSCALE;
  FDirect = O == orNormal && !FInks && !PerPixelProfile;
  if (FDirect) return;
  const std::size_t RowBytes = (static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(FComponents) + 3) / 4 * 4;
  FStrip.resize(RowBytes * TJpegDecoder::MaxRowsPerCall);
  FConverts = FInks || (FTransform && FComponents == 3);
  FOutRow = static_cast<std::size_t>(FWidth) * 3;
  if (FConverts) FOut.resize(FOutRow * TJpegDecoder::MaxRowsPerCall);
}

void TJpegRowPath::ReadPass(TJpegDecoder& D) {
  const std::ptrdiff_t Stride = static_cast<std::ptrdiff_t>(FStrip.size() / TJpegDecoder::MaxRowsPerCall);
  for (;;) {
    const int N = D.ReadStrip(FStrip.data(), Stride, TJpegDecoder::MaxRowsPerCall);
    if (N <= 0) return;
    const std::int32_t Top = static_cast<std::int32_t>(D.Info().output_scanline) - N;
    if (!FConverts) {
      FWriter.PutRows(Top, FStrip.data(), Stride, N);
      continue;
    }
    for (int K = 0; K < N; ++K) Convert(FStrip.data() + K * Stride, FOut.data() + K * FOutRow);
    FWriter.PutRows(Top, FOut.data(), static_cast<std::ptrdiff_t>(FOutRow), N);
  }
}

const std::uint8_t* TJpegRowPath::Convert(const std::uint8_t* Decoded, std::uint8_t* Out) {
  const std::size_t W = static_cast<std::size_t>(FWidth);
  if (FInks) {
    if (FTransform)
      FTransform->Convert(Decoded, Out, W);
    else
      CmykToBgr(Decoded, Out, W, FInverted);
    if (FGrayOut) {
      // Luma of the converted colours, for gray output.
      for (std::size_t X = 0; X < W; ++X) {
        const std::uint8_t* P = Out + 3 * X;
        Out[X] = static_cast<std::uint8_t>((P[0] * 29 + P[1] * 150 + P[2] * 77 + 128) >> 8);
      }
    }
    return Out;
  }
  if (FTransform && FComponents == 3) {
    FTransform->Convert(Decoded, Out, W);
    return Out;
  }
  return Decoded;
}

void TJpegRowPath::ConvertTable(std::vector<std::uint32_t>& Table) const {
  if (FTransform && !FInks) FTransform->ConvertTable(Table);
}
