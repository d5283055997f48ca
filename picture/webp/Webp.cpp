#include "picture/webp/Webp.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include <webp/decode.h>
#include <webp/demux.h>

#include "picture/decoding/ColorProfile.h"
#include "picture/FileFormats.h"
#include "picture/Limits.h"
#include "toolkit/SysUtils.h"

KEST_CLASS_IMPL(TWebPImage, TDecodedGraphic)

bool TWebPImage::HasSignature(std::span<const std::uint8_t> Head) {
  return HeadHas(Head, 0, "RIFF") && HeadHas(Head, 8, "WEBP");
}

void InitializeWebpSupport() {
  TFileFormatsList& Formats = TFileFormatsList::Instance();
  Formats.UnregisterClass(TWebPImage::StaticClass());
  Formats.RegisterSignature(TWebPImage::StaticClass(), &TWebPImage::HasSignature);
  Formats.RegisterFormat("webp", "WebP Image File", TWebPImage::StaticClass());
}

void FinalizeWebpSupport() { TFileFormatsList::Instance().UnregisterClass(TWebPImage::StaticClass()); }

namespace {

const char* StatusText(VP8StatusCode S) {
  switch (S) {
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR: return "damaged data";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "unsupported feature";
    case VP8_STATUS_SUSPENDED:
    case VP8_STATUS_NOT_ENOUGH_DATA: return "the file ends early";
    default: return "unknown error";
  }
}

[[noreturn]] void Fail(const char* Reason) { throw EWebP(Format("WebP image is not valid (%s)", {std::string(Reason)})); }

void CheckSize(int W, int H) {
  if (W <= 0 || H <= 0) Fail("empty picture");
  if (std::uint64_t(W) * std::uint64_t(H) > MaxPicturePixels) throw EWebP(Format("WebP image is too large (%d x %d)", {W, H}));
}

struct TDemuxFree {
  void operator()(WebPDemuxer* D) const { WebPDemuxDelete(D); }
};
using TDemux = std::unique_ptr<WebPDemuxer, TDemuxFree>;

struct TIDecFree {
  void operator()(WebPIDecoder* D) const { WebPIDelete(D); }
};

// Decodes a whole frame's bitstream into premultiplied 0xAARRGGBB pixels,
// rows Stride bytes apart.
bool DecodeFrame(const WebPData& Data, int W, int H, std::uint32_t* Out, std::ptrdiff_t Stride) {
  WebPDecoderConfig Config;
  if (!WebPInitDecoderConfig(&Config) || Stride > INT32_MAX) return false;
  Config.output.colorspace = MODE_bgrA;
  Config.output.is_external_memory = 1;
  Config.output.u.RGBA.rgba = reinterpret_cast<std::uint8_t*>(Out);
  Config.output.u.RGBA.stride = static_cast<int>(Stride);
  Config.output.u.RGBA.size = static_cast<std::size_t>(Stride) * static_cast<std::size_t>(H - 1) + std::size_t(W) * 4;
  const VP8StatusCode S = WebPDecode(Data.bytes, Data.size, &Config);
  WebPFreeDecBuffer(&Config.output);
  return S == VP8_STATUS_OK;
}

// The data of the first chunk of the given kind ("EXIF", "ICCP"), pointing
// into the file's bytes; empty when there is none.
std::span<const std::uint8_t> ChunkOf(std::span<const std::uint8_t> Bytes, const char* Kind) {
  const WebPData Data{Bytes.data(), Bytes.size()};
  const TDemux D(WebPDemux(&Data));
  if (!D) return {};
  WebPChunkIterator It;
  std::span<const std::uint8_t> Chunk;
  if (WebPDemuxGetChunk(D.get(), Kind, 1, &It)) Chunk = {It.chunk.bytes, It.chunk.size};
  WebPDemuxReleaseChunkIterator(&It);
  return Chunk;
}

inline std::uint8_t Mul255(std::uint32_t V, std::uint32_t A) {
  const std::uint32_t X = V * A + 128;
  return static_cast<std::uint8_t>((X + (X >> 8)) >> 8);
}

class TWebPFrames : public TFrameSource {
 public:
  explicit TWebPFrames(TDemux D) : FDemux(std::move(D)) {
    FCount = static_cast<int>(WebPDemuxGetI(FDemux.get(), WEBP_FF_FRAME_COUNT));
    FLoops = static_cast<int>(WebPDemuxGetI(FDemux.get(), WEBP_FF_LOOP_COUNT));
    for (int I = 1; I <= FCount; ++I) {
      WebPIterator It;
      if (!WebPDemuxGetFrame(FDemux.get(), I, &It)) {
        FCount = I - 1;
        break;
      }
      TFrameInfo F;
      F.Rect = Bounds(It.x_offset, It.y_offset, It.width, It.height);
      F.Delay = static_cast<std::uint32_t>(std::max(It.duration, 0));
      F.Disposal = It.dispose_method == WEBP_MUX_DISPOSE_BACKGROUND ? fdBackground : fdKeep;
      F.Blend = It.blend_method == WEBP_MUX_BLEND;
      FInfo.push_back(F);
      WebPDemuxReleaseIterator(&It);
    }
  }
  int FrameCount() const override { return FCount; }
  int LoopCount() const override { return FLoops; }
  TFrameInfo Frame(int Index) const override { return FInfo[static_cast<std::size_t>(Index)]; }
  void Render(int Index, TFrameCompositor& C) override {
    WebPIterator It;
    if (!WebPDemuxGetFrame(FDemux.get(), Index + 1, &It)) Fail("damaged data");
    const int W = It.width, H = It.height;
    bool Ok = W > 0 && H > 0 && std::uint64_t(W) * std::uint64_t(H) <= MaxPicturePixels;
    std::ptrdiff_t Stride = 0;
    // Where the frame's pixels land on the canvas unchanged, straight there.
    if (std::uint32_t* Direct = Ok ? C.DirectRows(Stride) : nullptr) {
      Ok = DecodeFrame(It.fragment, W, H, Direct, Stride);
      C.PutDirect();
    } else if (Ok) {
      FPixels.assign(static_cast<std::size_t>(W) * static_cast<std::size_t>(H), 0);
      Ok = DecodeFrame(It.fragment, W, H, FPixels.data(), std::ptrdiff_t{W} * 4);
      for (int Y = 0; Ok && Y < H; ++Y)
        C.PutRow(Y, FPixels.data() + static_cast<std::size_t>(Y) * static_cast<std::size_t>(W));
    }
    WebPDemuxReleaseIterator(&It);
    if (!Ok) Fail("damaged data");
  }

 private:
  TDemux FDemux;
  int FCount = 0;
  int FLoops = 0;
  std::vector<TFrameInfo> FInfo;
  std::vector<std::uint32_t> FPixels;  // the frame being drawn, reused
};

}  // namespace

TWebPImage::TWebPImage() = default;

TDecodedGraphic::THeader TWebPImage::ReadHeader(std::span<const std::uint8_t> Bytes) const {
  WebPBitstreamFeatures F;
  const VP8StatusCode S = WebPGetFeatures(Bytes.data(), Bytes.size(), &F);
  if (S != VP8_STATUS_OK) Fail(StatusText(S));
  CheckSize(F.width, F.height);
  const TOrientation O = ReadExifOrientation(ChunkOf(Bytes, "EXIF"));
  return THeader{F.width, F.height, F.has_alpha != 0 || F.has_animation != 0, O};
}

std::unique_ptr<TFrameSource> TWebPImage::OpenFrames(std::span<const std::uint8_t> Bytes) {
  WebPBitstreamFeatures F;
  if (WebPGetFeatures(Bytes.data(), Bytes.size(), &F) != VP8_STATUS_OK || !F.has_animation) return nullptr;
  const WebPData Data{Bytes.data(), Bytes.size()};
  WebPDemuxState State;
  TDemux D(WebPDemuxPartial(&Data, &State));
  if (!D || State == WEBP_DEMUX_PARSE_ERROR) Fail("damaged data");
  auto Frames = std::make_unique<TWebPFrames>(std::move(D));
  if (Frames->FrameCount() == 0) Fail(StatusText(VP8_STATUS_NOT_ENOUGH_DATA));
  return Frames;
}

void TWebPImage::DecodeStill(std::span<const std::uint8_t> Bytes, TBitmap& Target) {
  WebPDecoderConfig Config;
  if (!WebPInitDecoderConfig(&Config)) Fail("unsupported library version");
  const VP8StatusCode Features = WebPGetFeatures(Bytes.data(), Bytes.size(), &Config.input);
  if (Features != VP8_STATUS_OK) Fail(StatusText(Features));
  const int W = Config.input.width, H = Config.input.height;
  CheckSize(W, H);
  const bool Alpha = Config.input.has_alpha != 0;
  Target.AllocateImage(W, H, Alpha ? 32 : 24, false);
  SetDecodedAlpha(Alpha);
  // An embedded profile converts the rows once decoded, before alpha is multiplied in.
  const std::unique_ptr<TColorTransform> Profile = TColorTransform::ToSrgb(ChunkOf(Bytes, "ICCP"), Alpha ? ppBGRA8 : ppBGR8);
  // Straight into the bitmap, in its own byte order; with alpha, premultiplied.
  Config.output.colorspace = Alpha ? (Profile ? MODE_BGRA : MODE_bgrA) : MODE_BGR;
  Config.output.is_external_memory = 1;
  Config.output.u.RGBA.rgba = Target.ScanLine(0);
  Config.output.u.RGBA.stride = static_cast<int>(Target.Stride());
  Config.output.u.RGBA.size = static_cast<std::size_t>(Target.Stride()) * static_cast<std::size_t>(H);
  const std::unique_ptr<WebPIDecoder, TIDecFree> Dec(WebPIDecode(nullptr, 0, &Config));
  if (!Dec) Fail("out of memory");
  // The file is given in growing parts, so that progress can be told and a
  // file that ends early keeps the rows it has.
  const std::size_t Step = std::max<std::size_t>(std::size_t{1} << 16, Bytes.size() / 16);
  VP8StatusCode S = VP8_STATUS_SUSPENDED;
  int Rows = 0, Reported = 0;
  bool RowsUnwritten = true;
  for (std::size_t Given = 0; S == VP8_STATUS_SUSPENDED && Given < Bytes.size();) {
    Given = std::min(Bytes.size(), Given + Step);
    S = WebPIUpdate(Dec.get(), Bytes.data(), Given);
    int LastY = 0;
    if (WebPIDecGetRGB(Dec.get(), &LastY, nullptr, nullptr, nullptr)) Rows = std::clamp(LastY, 0, H);
    if (DecodeProgress(static_cast<int>(std::int64_t{Rows} * 100 / H), TRect{0, Reported, W, Rows}, [&] {
          if (std::exchange(RowsUnwritten, false))
            for (std::int32_t Y = Rows; Y < H; ++Y) std::fill_n(Target.ScanLine(Y), Target.Stride(), 0);
        }))
      Reported = Rows;
  }
  if (Profile)
    for (std::int32_t Y = 0; Y < (S == VP8_STATUS_OK ? H : Rows); ++Y) {
      std::uint8_t* Row = Target.ScanLine(Y);
      Profile->Convert(Row, Row, static_cast<std::size_t>(W));
      for (std::int32_t X = 0; Alpha && X < W; ++X)
        for (int K = 0; K < 3; ++K) Row[4 * X + K] = Mul255(Row[4 * X + K], Row[4 * X + 3]);
    }
  if (S == VP8_STATUS_OK) return;
  ClearRowsFrom(Target, Rows);
  // A file that simply ends is shown without an error.
  if (S == VP8_STATUS_SUSPENDED) return;
  Fail(StatusText(S));
}
