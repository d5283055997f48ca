// JPEG files encoded by libjpeg's own compressor: the one set-up that the
// resource maker (the sample picture) and the tests' JPEG files share.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include <jpeglib.h>

struct TJpegEncoding {
  int Width = 0;
  int Height = 0;
  // 1: gray, 3: red, green, blue (stored as YCbCr), 4: CMYK.
  int Components = 3;
  int Quality = 75;
  // Luma sampling factors of three-component files: 2 x 2 (libjpeg's default) is 4:2:0.
  int HSamp = 2;
  int VSamp = 2;
  bool Progressive = false;
  int RestartRows = 0;
  bool Arithmetic = false;
  // The colour space stored in the file when it is not libjpeg's default for
  // the input (plain RGB, or YCCK from CMYK input); every component is then
  // sampled 1 x 1 unless HSamp and VSamp say otherwise for a three-component file.
  J_COLOR_SPACE Stored = JCS_UNKNOWN;
  // Adobe's marker in four-component files (libjpeg writes it by default).
  bool AdobeMarker = true;
  // Markers written after the header, in order: the marker code and its bytes.
  std::vector<std::pair<int, std::vector<std::uint8_t>>> Markers;
};

// Encodes the rows that FillRow(Y, Row) writes, Width * Components samples each,
// with libjpeg's defaults (JFIF 1.01) and the settings of S.
template <class F>
std::vector<std::uint8_t> CompressJpeg(const TJpegEncoding& S, F&& FillRow) {
  jpeg_compress_struct C{};
  jpeg_error_mgr E{};
  C.err = jpeg_std_error(&E);
  jpeg_create_compress(&C);
  unsigned char* Out = nullptr;
  unsigned long Size = 0;
  jpeg_mem_dest(&C, &Out, &Size);
  C.image_width = static_cast<JDIMENSION>(S.Width);
  C.image_height = static_cast<JDIMENSION>(S.Height);
  C.input_components = S.Components;
  C.in_color_space = S.Components == 1 ? JCS_GRAYSCALE : S.Components == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&C);
  if (S.Stored != JCS_UNKNOWN) {
    jpeg_set_colorspace(&C, S.Stored);
    for (int K = 0; K < C.num_components; ++K) C.comp_info[K].h_samp_factor = C.comp_info[K].v_samp_factor = 1;
  }
  if (S.Components == 4) C.write_Adobe_marker = S.AdobeMarker;
  jpeg_set_quality(&C, S.Quality, TRUE);
  if (S.Components == 3) {
    C.comp_info[0].h_samp_factor = S.HSamp;
    C.comp_info[0].v_samp_factor = S.VSamp;
  }
  if (S.Progressive) jpeg_simple_progression(&C);
  C.restart_in_rows = S.RestartRows;
  C.arith_code = S.Arithmetic;
  jpeg_start_compress(&C, TRUE);
  for (const auto& [Code, Bytes] : S.Markers)
    jpeg_write_marker(&C, Code, Bytes.data(), static_cast<unsigned>(Bytes.size()));
  std::vector<JSAMPLE> Row(static_cast<std::size_t>(S.Width) * static_cast<std::size_t>(S.Components));
  while (C.next_scanline < C.image_height) {
    FillRow(static_cast<int>(C.next_scanline), Row.data());
    JSAMPROW P = Row.data();
    jpeg_write_scanlines(&C, &P, 1);
  }
  jpeg_finish_compress(&C);
  std::vector<std::uint8_t> Bytes(Out, Out + Size);
  std::free(Out);
  jpeg_destroy_compress(&C);
  return Bytes;
}
