#include "picture/avif/Avif.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

#include <avif/avif.h>

#include "picture/FileFormats.h"
#include "picture/Limits.h"
#include "toolkit/ByteReader.h"

KEST_CLASS_IMPL(TAVIFImage, TDecodedGraphic)

bool TAVIFImage::HasSignature(std::span<const std::uint8_t> Head) {
  return HasIsoBrand(Head, "avif") || HasIsoBrand(Head, "avis");
}

void InitializeAvifSupport() {
  TFileFormatsList& Formats = TFileFormatsList::Instance();
  Formats.UnregisterClass(TAVIFImage::StaticClass());
  Formats.RegisterSignature(TAVIFImage::StaticClass(), &TAVIFImage::HasSignature);
  Formats.RegisterFormat("avif", "AVIF Image File", TAVIFImage::StaticClass());
}

void FinalizeAvifSupport() { TFileFormatsList::Instance().UnregisterClass(TAVIFImage::StaticClass()); }

namespace {

struct TDecoderFree {
  void operator()(avifDecoder* D) const { avifDecoderDestroy(D); }
};
using TDecoder = std::unique_ptr<avifDecoder, TDecoderFree>;

[[noreturn]] void Fail(const avifDecoder* D, avifResult R) {
  std::string Why = avifResultToString(R);
  if (D && D->diag.error[0]) Why += ": " + std::string(D->diag.error);
  throw EAVIF("AVIF image is not valid (" + Why + ")");
}

// A decoder over the file with its header parsed: the primary picture's size,
// depth, alpha and boxes are known, nothing is decoded yet.
TDecoder Parse(std::span<const std::uint8_t> Bytes) {
  TDecoder D(avifDecoderCreate());
  if (!D) throw std::bad_alloc();
  D->maxThreads = 1;
  D->imageSizeLimit = static_cast<std::uint32_t>(MaxPicturePixels);
  D->imageCountLimit = 1 << 16;
  D->ignoreXMP = AVIF_TRUE;
  avifResult R = avifDecoderSetIOMemory(D.get(), Bytes.data(), Bytes.size());
  if (R == AVIF_RESULT_OK) R = avifDecoderParse(D.get());
  if (R != AVIF_RESULT_OK) Fail(D.get(), R);
  const avifImage* I = D->image;
  if (I->width == 0 || I->height == 0 || std::uint64_t{I->width} * I->height > MaxPicturePixels)
    throw EAVIF("AVIF image is not valid (picture too large)");
  return D;
}

// The rotation box turns anticlockwise by quarters, then the mirror box
// exchanges top and bottom (mode 0) or left and right (mode 1): as orientation values.
TOrientation OrientationOf(const avifImage& I) {
  static constexpr std::uint8_t Table[4][3] = {{1, 4, 2}, {8, 5, 7}, {3, 2, 4}, {6, 7, 5}};
  const int Angle = (I.transformFlags & AVIF_TRANSFORM_IROT) ? I.irot.angle & 3 : 0;
  const int Mirror = (I.transformFlags & AVIF_TRANSFORM_IMIR) ? 1 + (I.imir.mode & 1) : 0;
  return static_cast<TOrientation>(Table[Angle][Mirror]);
}

}  // namespace

TAVIFImage::TAVIFImage() = default;
TAVIFImage::~TAVIFImage() = default;

TDecodedGraphic::THeader TAVIFImage::ReadHeader(std::span<const std::uint8_t> Bytes) const {
  const TDecoder D = Parse(Bytes);
  THeader H;
  H.Width = static_cast<std::int32_t>(D->image->width);
  H.Height = static_cast<std::int32_t>(D->image->height);
  H.Orientation = OrientationOf(*D->image);
  H.Alpha = D->alphaPresent != AVIF_FALSE;
  return H;
}

void TAVIFImage::DecodePixels(std::span<const std::uint8_t> Bytes, TDecodeSink& Sink) {
  const TDecoder D = Parse(Bytes);
  const avifResult R = avifDecoderNextImage(D.get());
  if (R != AVIF_RESULT_OK) Fail(D.get(), R);
  const avifImage* I = D->image;
  const bool Alpha = I->alphaPlane != nullptr;
  Sink.SetProfile({I->icc.data, I->icc.size});
  Sink.Start(static_cast<std::int32_t>(I->width), static_cast<std::int32_t>(I->height),
             Alpha ? TDecodeSink::rkBGRA8 : TDecodeSink::rkBGR8);
  avifRGBImage Rgb;
  avifRGBImageSetDefaults(&Rgb, I);
  Rgb.depth = 8;
  Rgb.format = Alpha ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
  // An upright picture is converted straight into the bitmap; a turned one
  // through a buffer whose rows the sink places.
  std::vector<std::uint8_t> Buffer;
  const std::int32_t H = static_cast<std::int32_t>(I->height);
  if (std::uint8_t* First = Sink.DirectRow(0)) {
    Rgb.pixels = First;
    Rgb.rowBytes = static_cast<std::uint32_t>(Sink.Stride());
  } else {
    Rgb.rowBytes = I->width * static_cast<std::uint32_t>(Sink.RowBytesPerPixel());
    Buffer.resize(std::size_t{Rgb.rowBytes} * I->height);
    Rgb.pixels = Buffer.data();
  }
  const avifResult C = avifImageYUVToRGB(I, &Rgb);
  if (C != AVIF_RESULT_OK) Fail(D.get(), C);
  for (std::int32_t Y = 0; Y < H; ++Y) {
    if (Buffer.empty())
      Sink.Placed(Y);
    else
      Sink.Put(Y, Buffer.data() + static_cast<std::size_t>(Y) * Rgb.rowBytes);
  }
  Sink.RowsDone(H);
}
