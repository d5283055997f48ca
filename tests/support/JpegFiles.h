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

// How WriteJpegCoefficients lays out a file: each component's sampling
// factors (across, down), its tables and its scan.
struct TJpegCoefficientLayout {
  int Samp[3][2] = {{2, 2}, {1, 1}, {1, 1}};
  bool Optimize = false;
  unsigned RestartInterval = 0;  // in MCUs; 0: none
  bool Progressive = false;
};

// A block of a component's grid of Across by Down blocks: 64 quantised
// coefficients in natural order.
struct TJpegBlock {
  int Component, X, Y, Across, Down;
  JCOEF* Coef;
};
// Changes a block before it is written.
using TJpegBlockEdit = std::function<void(const TJpegBlock& Block)>;

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
  // Rows read before the end or a failure (a failure may come after them all,
  // in the markers after the data).
  int RowsRead = 0;

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
    Img->RowsRead = static_cast<int>(D->output_scanline);
  }
  for (int I = 0; D->quantize_colors && I < D->actual_number_of_colors; ++I) {
    const bool G = D->out_color_components == 1;
    const std::uint32_t R = D->colormap[0][I], Gr = G ? R : D->colormap[1][I], B = G ? R : D->colormap[2][I];
    Img->Map.push_back(R << 16 | Gr << 8 | B);
  }
  jpeg_finish_decompress(D);
  return true;
}

// The library's steps of WriteJpegCoefficients, in a frame as DecodeSteps's.
inline bool TranscodeSteps(jpeg_decompress_struct* D, jpeg_compress_struct* C, TError* E,
                           const std::vector<std::uint8_t>* Source, const TJpegCoefficientLayout* L,
                           const TJpegBlockEdit* Edit, unsigned char** Out, unsigned long* Size) {
  if (setjmp(E->Jump)) return false;
  C->err = D->err;
  jpeg_create_decompress(D);
  jpeg_create_compress(C);
  jpeg_mem_src(D, Source->data(), static_cast<unsigned long>(Source->size()));
  jpeg_read_header(D, TRUE);
  if (D->num_components != 3) return false;
  int MaxH = 1, MaxV = 1;
  for (const auto& S : L->Samp) {
    MaxH = S[0] > MaxH ? S[0] : MaxH;
    MaxV = S[1] > MaxV ? S[1] : MaxV;
  }
  // Each component's blocks, whole MCUs of them.
  jvirt_barray_ptr Arrays[3];
  JDIMENSION Across[3], Down[3];
  for (int K = 0; K < 3; ++K) {
    const long H = L->Samp[K][0], V = L->Samp[K][1];
    Across[K] = static_cast<JDIMENSION>((D->image_width * H + 8 * MaxH - 1) / (8 * MaxH));
    Down[K] = static_cast<JDIMENSION>((D->image_height * V + 8 * MaxV - 1) / (8 * MaxV));
    Arrays[K] = D->mem->request_virt_barray(reinterpret_cast<j_common_ptr>(D), JPOOL_IMAGE, TRUE,
                                            static_cast<JDIMENSION>((Across[K] + H - 1) / H * H),
                                            static_cast<JDIMENSION>((Down[K] + V - 1) / V * V),
                                            static_cast<JDIMENSION>(V));
  }
  jvirt_barray_ptr* From = jpeg_read_coefficients(D);
  jpeg_copy_critical_parameters(D, C);
  for (int K = 0; K < 3; ++K) {
    C->comp_info[K].h_samp_factor = L->Samp[K][0];
    C->comp_info[K].v_samp_factor = L->Samp[K][1];
  }
  C->optimize_coding = L->Optimize;
  C->restart_interval = L->RestartInterval;
  if (L->Progressive) jpeg_simple_progression(C);
  // Block X, Y of a component takes the source's block at the same place in
  // proportion to the two grids.
  for (int K = 0; K < 3; ++K) {
    const jpeg_component_info& S = D->comp_info[K];
    const JDIMENSION Rows = (Down[K] + L->Samp[K][1] - 1) / L->Samp[K][1] * L->Samp[K][1];
    const JDIMENSION Cols = (Across[K] + L->Samp[K][0] - 1) / L->Samp[K][0] * L->Samp[K][0];
    for (JDIMENSION Y = 0; Y < Rows; ++Y) {
      const JDIMENSION Sy = Y * S.height_in_blocks / Rows;
      JBLOCKROW Src = D->mem->access_virt_barray(reinterpret_cast<j_common_ptr>(D), From[K], Sy, 1, FALSE)[0];
      JBLOCKROW Dst = D->mem->access_virt_barray(reinterpret_cast<j_common_ptr>(D), Arrays[K], Y, 1, TRUE)[0];
      for (JDIMENSION X = 0; X < Cols; ++X) {
        for (int I = 0; I < DCTSIZE2; ++I) Dst[X][I] = Src[X * S.width_in_blocks / Cols][I];
        if (*Edit)
          (*Edit)({K, static_cast<int>(X), static_cast<int>(Y), static_cast<int>(Cols), static_cast<int>(Rows), Dst[X]});
      }
    }
  }
  jpeg_mem_dest(C, Out, Size);
  jpeg_write_coefficients(C, Arrays);
  jpeg_finish_compress(C);
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

// A file of three components written at the coefficient level by libjpeg:
// the quantised blocks of Source (a three-component file, whose tables and
// size it keeps) laid out in L's sampling, each block taking the source
// block at the same place, Edit changing any. Any sampling the library
// writes, also chroma sampled finer than luma, and coefficients no
// compressor of pixels gives. Empty when the library refuses.
inline std::vector<std::uint8_t> WriteJpegCoefficients(const std::vector<std::uint8_t>& Source,
                                                       const TJpegCoefficientLayout& L,
                                                       const TJpegBlockEdit& Edit = {}) {
  jpeg_decompress_struct D{};
  jpeg_compress_struct C{};
  jpeg_files_detail::TError E{};
  D.err = jpeg_std_error(&E.Pub);
  E.Pub.error_exit = [](j_common_ptr I) { std::longjmp(reinterpret_cast<jpeg_files_detail::TError*>(I->err)->Jump, 1); };
  E.Pub.emit_message = [](j_common_ptr, int) {};
  unsigned char* Out = nullptr;
  unsigned long Size = 0;
  const bool Done = jpeg_files_detail::TranscodeSteps(&D, &C, &E, &Source, &L, &Edit, &Out, &Size);
  std::vector<std::uint8_t> Bytes;
  if (Done) Bytes.assign(Out, Out + Size);
  jpeg_destroy_compress(&C);
  jpeg_destroy_decompress(&D);
  std::free(Out);
  return Bytes;
}
