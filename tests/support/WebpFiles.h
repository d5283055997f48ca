// WebP files made with libwebp's own encoders for the WebP tests and benchmark.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <webp/encode.h>
#include <webp/mux.h>

// Pixels as 0xAARRGGBB (not premultiplied) of a W x H picture.
using TWebpPixels = std::function<std::uint32_t(int X, int Y)>;

namespace webp_files_detail {

// What Assemble writes into a WebPData, as a vector; the data is freed.
template <class F>
std::vector<std::uint8_t> Assembled(F&& Assemble) {
  WebPData Data;
  WebPDataInit(&Data);
  Assemble(&Data);
  std::vector<std::uint8_t> Bytes(Data.bytes, Data.bytes + Data.size);
  WebPDataClear(&Data);
  return Bytes;
}

}  // namespace webp_files_detail

inline std::vector<std::uint8_t> RgbaBytes(int W, int H, const TWebpPixels& Pixel) {
  std::vector<std::uint8_t> Rgba(static_cast<std::size_t>(W) * H * 4);
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      const std::uint32_t P = Pixel(X, Y);
      std::uint8_t* D = &Rgba[(static_cast<std::size_t>(Y) * W + X) * 4];
      D[0] = static_cast<std::uint8_t>(P >> 16), D[1] = static_cast<std::uint8_t>(P >> 8);
      D[2] = static_cast<std::uint8_t>(P), D[3] = static_cast<std::uint8_t>(P >> 24);
    }
  return Rgba;
}

// A still picture; Quality < 0 means lossless. Opaque pictures are given as RGB.
inline std::vector<std::uint8_t> MakeWebp(int W, int H, const TWebpPixels& Pixel, float Quality, bool Alpha) {
  const std::vector<std::uint8_t> Rgba = RgbaBytes(W, H, Pixel);
  std::uint8_t* Out = nullptr;
  std::size_t Size = 0;
  if (Alpha) {
    Size = Quality < 0 ? WebPEncodeLosslessRGBA(Rgba.data(), W, H, W * 4, &Out)
                       : WebPEncodeRGBA(Rgba.data(), W, H, W * 4, Quality, &Out);
  } else {
    std::vector<std::uint8_t> Rgb;
    for (std::size_t I = 0; I < Rgba.size(); I += 4) Rgb.insert(Rgb.end(), {Rgba[I], Rgba[I + 1], Rgba[I + 2]});
    Size = Quality < 0 ? WebPEncodeLosslessRGB(Rgb.data(), W, H, W * 3, &Out)
                       : WebPEncodeRGB(Rgb.data(), W, H, W * 3, Quality, &Out);
  }
  std::vector<std::uint8_t> Bytes(Out, Out + Size);
  WebPFree(Out);
  return Bytes;
}

struct TWebpFrame {
  TWebpPixels Pixel;  // the whole canvas as the frame should show it
  int DurationMs = 100;
};

// A lossless animation whose frames show exactly the given canvases.
inline std::vector<std::uint8_t> MakeAnimatedWebp(int W, int H, const std::vector<TWebpFrame>& Frames, int Loops) {
  WebPAnimEncoderOptions Options;
  WebPAnimEncoderOptionsInit(&Options);
  Options.anim_params.loop_count = Loops;
  Options.allow_mixed = 0;
  WebPAnimEncoder* E = WebPAnimEncoderNew(W, H, &Options);
  WebPConfig Config;
  WebPConfigInit(&Config);
  Config.lossless = 1;
  int Time = 0;
  for (const TWebpFrame& F : Frames) {
    WebPPicture P;
    WebPPictureInit(&P);
    P.width = W;
    P.height = H;
    P.use_argb = 1;
    WebPPictureAlloc(&P);
    for (int Y = 0; Y < H; ++Y)
      for (int X = 0; X < W; ++X) P.argb[Y * P.argb_stride + X] = F.Pixel(X, Y);
    WebPAnimEncoderAdd(E, &P, Time, &Config);
    WebPPictureFree(&P);
    Time += F.DurationMs;
  }
  WebPAnimEncoderAdd(E, nullptr, Time, nullptr);
  std::vector<std::uint8_t> Bytes = webp_files_detail::Assembled([E](WebPData* D) { WebPAnimEncoderAssemble(E, D); });
  WebPAnimEncoderDelete(E);
  return Bytes;
}

// The file with an EXIF or ICCP chunk ("EXIF", "ICCP") added.
inline std::vector<std::uint8_t> WithWebpChunk(const std::vector<std::uint8_t>& Bytes, const char* Kind,
                                               const std::vector<std::uint8_t>& Data) {
  const WebPData In{Bytes.data(), Bytes.size()};
  WebPMux* M = WebPMuxCreate(&In, 1);
  const WebPData Chunk{Data.data(), Data.size()};
  WebPMuxSetChunk(M, Kind, &Chunk, 1);
  std::vector<std::uint8_t> Result = webp_files_detail::Assembled([M](WebPData* D) { WebPMuxAssemble(M, D); });
  WebPMuxDelete(M);
  return Result;
}
