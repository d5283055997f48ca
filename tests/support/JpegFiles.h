// JPEG files made with libjpeg's own compressor, and the plain libjpeg decode
// that the JPEG graphic's output is held against. Shared by the picture tests
// and the JPEG benchmark.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "../../resources/JpegEncoder.h"

struct TJpegFileOptions {
  int Width = 64;
  int Height = 48;
  bool Gray = false;
  // Luma sampling factors: 2 x 2 is 4:2:0, 1 x 1 is 4:4:4.
  int HSamp = 2;
  int VSamp = 2;
  bool Progressive = false;
  int RestartRows = 0;
  int Quality = 90;
  bool Arithmetic = false;
  bool Cmyk = false;
  // Fine detail, so that the entropy-coded data is as busy as a photograph's.
  bool Noise = false;
};

// Gradients, an edge pattern and optional noise, as 8-bit samples.
inline std::uint8_t JpegTestSample(const TJpegFileOptions& S, int X, int Y, int Channel) {
  const int Wx = S.Width > 1 ? S.Width - 1 : 1, Hy = S.Height > 1 ? S.Height - 1 : 1;
  int V = 0;
  switch (Channel) {
    case 0: V = X * 255 / Wx; break;
    case 1: V = Y * 255 / Hy; break;
    default: V = ((X / 8 + Y / 8) % 2) ? 220 : 40;
  }
  if (S.Noise) {
    std::uint32_t H = static_cast<std::uint32_t>(X) * 73856093u ^ static_cast<std::uint32_t>(Y) * 19349663u ^
                      static_cast<std::uint32_t>(Channel) * 83492791u;
    H ^= H >> 13;
    H *= 0x5bd1e995u;
    V += static_cast<int>((H >> 24) % 41) - 20;
  }
  return static_cast<std::uint8_t>(V < 0 ? 0 : V > 255 ? 255 : V);
}

inline std::vector<std::uint8_t> MakeJpeg(const TJpegFileOptions& S) {
  TJpegEncoding E;
  E.Width = S.Width;
  E.Height = S.Height;
  E.Components = S.Gray ? 1 : S.Cmyk ? 4 : 3;
  E.Quality = S.Quality;
  E.HSamp = S.HSamp;
  E.VSamp = S.VSamp;
  E.Progressive = S.Progressive;
  E.RestartRows = S.RestartRows;
  E.Arithmetic = S.Arithmetic;
  return CompressJpeg(E, [&](int Y, JSAMPLE* Row) {
    for (int X = 0; X < S.Width; ++X)
      for (int K = 0; K < E.Components; ++K) Row[X * E.Components + K] = JpegTestSample(S, X, Y, K);
  });
}

// A decoded image: rows of Stride bytes (padded to whole 32-bit words, as a
// bitmap's), Components bytes per pixel, or colour-map indices when Map is set.
struct TPlainImage {
  int Width = 0;
  int Height = 0;
  int Components = 0;
  std::ptrdiff_t Stride = 0;
  std::unique_ptr<std::uint8_t[]> Bits;
  std::vector<std::uint32_t> Map;  // 0x00RRGGBB
  bool Failed = false;

  // The colour of a pixel as 0x00RRGGBB (samples in blue, green, red order).
  std::uint32_t ColorAt(int X, int Y) const {
    const std::uint8_t* P = Bits.get() + Y * Stride + static_cast<std::ptrdiff_t>(X) * Components;
    if (!Map.empty()) return Map[*P];
    if (Components == 1) return std::uint32_t{P[0]} * 0x010101u;
    return std::uint32_t{P[2]} << 16 | std::uint32_t{P[1]} << 8 | P[0];
  }
};

namespace jpeg_files_detail {

struct TError {
  jpeg_error_mgr Pub;
  std::jmp_buf Jump;
};

// The library's calls, in a frame with only trivially destructible locals
// that a fatal error jumps back to.
inline bool DecodeSteps(jpeg_decompress_struct* D, TError* E, const std::vector<std::uint8_t>* Bytes,
                        const std::function<void(jpeg_decompress_struct&)>* Configure, TPlainImage* Img) {
  if (setjmp(E->Jump)) return false;
  jpeg_create_decompress(D);
  jpeg_mem_src(D, Bytes->data(), static_cast<unsigned long>(Bytes->size()));
  jpeg_read_header(D, TRUE);
  D->out_color_space = D->jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_EXT_BGR;
  if (*Configure) (*Configure)(*D);
  jpeg_start_decompress(D);
  Img->Width = static_cast<int>(D->output_width);
  Img->Height = static_cast<int>(D->output_height);
  Img->Components = D->quantize_colors ? 1 : D->output_components;
  Img->Stride = (static_cast<std::ptrdiff_t>(Img->Width) * Img->Components + 3) / 4 * 4;
  Img->Bits = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(Img->Stride * Img->Height));
  while (D->output_scanline < D->output_height) {
    JSAMPROW Row = Img->Bits.get() + D->output_scanline * Img->Stride;
    jpeg_read_scanlines(D, &Row, 1);
  }
  for (int I = 0; D->quantize_colors && I < D->actual_number_of_colors; ++I) {
    const bool G = D->out_color_components == 1;
    const std::uint32_t R = D->colormap[0][I], Gr = G ? R : D->colormap[1][I], B = G ? R : D->colormap[2][I];
    Img->Map.push_back(R << 16 | Gr << 8 | B);
  }
  jpeg_finish_decompress(D);
  return true;
}

}  // namespace jpeg_files_detail

// The plain decode: libjpeg's defaults, 24-bit output in blue, green, red order
// (gray files: one gray byte) unless Configure changes the parameters, one
// jpeg_read_scanlines call per row into a newly allocated buffer. Warnings are
// ignored; a fatal error sets Failed.
inline TPlainImage PlainDecode(const std::vector<std::uint8_t>& Bytes,
                               const std::function<void(jpeg_decompress_struct&)>& Configure = {}) {
  TPlainImage Img;
  jpeg_decompress_struct D{};
  jpeg_files_detail::TError E{};
  D.err = jpeg_std_error(&E.Pub);
  E.Pub.error_exit = [](j_common_ptr I) { std::longjmp(reinterpret_cast<jpeg_files_detail::TError*>(I->err)->Jump, 1); };
  E.Pub.emit_message = [](j_common_ptr, int) {};
  Img.Failed = !jpeg_files_detail::DecodeSteps(&D, &E, &Bytes, &Configure, &Img);
  jpeg_destroy_decompress(&D);
  return Img;
}
