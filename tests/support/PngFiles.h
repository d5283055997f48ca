// PNG files made with libpng's own encoder for the PNG tests and benchmark.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include <png.h>

struct TPngFileOptions {
  int Width = 16;
  int Height = 12;
  int ColorType = PNG_COLOR_TYPE_RGB;
  int BitDepth = 8;
  bool Interlaced = false;
  // Samples of each channel (gray, or red, green, blue, then alpha; palette
  // files: the index), at the file's bit depth.
  std::function<std::uint32_t(int X, int Y, int Channel)> Sample;
  std::vector<png_color> Palette;
  std::vector<std::uint8_t> PaletteAlpha;  // tRNS of a palette file
  // tRNS of a gray or RGB file: the one colour that is transparent.
  bool KeyTransparent = false;
  png_color_16 Key{};
  double Gamma = 0;  // gAMA when not 0
  bool Srgb = false;
  int Compression = 6;
  std::vector<std::uint8_t> Icc;   // iCCP when not empty
  std::vector<std::uint8_t> Exif;  // eXIf when not empty
};

inline int PngChannels(int ColorType) {
  switch (ColorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    default: return 4;
  }
}

inline std::vector<std::uint8_t> MakePng(const TPngFileOptions& O) {
  std::vector<std::uint8_t> Out;
  png_structp P = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop I = png_create_info_struct(P);
  png_set_write_fn(
      P, &Out,
      [](png_structp Pp, png_bytep D, png_size_t N) {
        auto* V = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(Pp));
        V->insert(V->end(), D, D + N);
      },
      nullptr);
  png_set_IHDR(P, I, static_cast<png_uint_32>(O.Width), static_cast<png_uint_32>(O.Height), O.BitDepth, O.ColorType,
               O.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(P, O.Compression);
  if (!O.Palette.empty()) png_set_PLTE(P, I, O.Palette.data(), static_cast<int>(O.Palette.size()));
  if (!O.PaletteAlpha.empty())
    png_set_tRNS(P, I, O.PaletteAlpha.data(), static_cast<int>(O.PaletteAlpha.size()), nullptr);
  if (O.KeyTransparent) {
    png_color_16 K = O.Key;
    png_set_tRNS(P, I, nullptr, 0, &K);
  }
  if (O.Gamma > 0) png_set_gAMA(P, I, O.Gamma);
  if (O.Srgb) png_set_sRGB(P, I, PNG_sRGB_INTENT_PERCEPTUAL);
  if (!O.Icc.empty()) png_set_iCCP(P, I, "profile", 0, O.Icc.data(), static_cast<png_uint_32>(O.Icc.size()));
  if (!O.Exif.empty()) png_set_eXIf_1(P, I, static_cast<png_uint_32>(O.Exif.size()), const_cast<png_bytep>(O.Exif.data()));
  png_write_info(P, I);
  const int Channels = PngChannels(O.ColorType);
  const std::size_t RowBytes = (static_cast<std::size_t>(O.Width) * Channels * O.BitDepth + 7) / 8;
  std::vector<std::vector<std::uint8_t>> Rows(static_cast<std::size_t>(O.Height), std::vector<std::uint8_t>(RowBytes));
  for (int Y = 0; Y < O.Height; ++Y) {
    std::uint8_t* R = Rows[static_cast<std::size_t>(Y)].data();
    for (int X = 0; X < O.Width; ++X)
      for (int C = 0; C < Channels; ++C) {
        const std::uint32_t V = O.Sample(X, Y, C);
        const std::size_t Index = static_cast<std::size_t>(X) * Channels + C;
        if (O.BitDepth == 16) {
          R[2 * Index] = static_cast<std::uint8_t>(V >> 8);
          R[2 * Index + 1] = static_cast<std::uint8_t>(V);
        } else if (O.BitDepth == 8) {
          R[Index] = static_cast<std::uint8_t>(V);
        } else {
          const std::size_t Bit = Index * O.BitDepth;
          R[Bit / 8] |= static_cast<std::uint8_t>(V << (8 - O.BitDepth - Bit % 8));
        }
      }
  }
  std::vector<png_bytep> Pointers;
  for (auto& R : Rows) Pointers.push_back(R.data());
  png_write_image(P, Pointers.data());
  png_write_end(P, I);
  png_destroy_write_struct(&P, &I);
  return Out;
}

// A photograph-like RGB picture: gradients, an edge pattern and noise.
inline std::uint32_t PngPhotoSample(int Width, int Height, int X, int Y, int Channel) {
  std::uint32_t H = static_cast<std::uint32_t>(X) * 73856093u ^ static_cast<std::uint32_t>(Y) * 19349663u ^
                    static_cast<std::uint32_t>(Channel) * 83492791u;
  H ^= H >> 13;
  H *= 0x5bd1e995u;
  const int Noise = static_cast<int>((H >> 24) % 9) - 4;
  int V = Channel == 0 ? X * 255 / Width : Channel == 1 ? Y * 255 / Height : ((X / 8 + Y / 8) % 2 ? 220 : 40);
  V += Noise;
  return static_cast<std::uint32_t>(V < 0 ? 0 : V > 255 ? 255 : V);
}
