// JPEG files as cameras and print workflows write them, made with libjpeg's
// own compressor: an EXIF orientation in APP1, a colour profile in APP2
// chunks, CMYK or YCCK pixels with or without Adobe's marker.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include <jpeglib.h>

#include "../../resources/JpegEncoder.h"
#include "support/PhotoFiles.h"

struct TPhotoJpeg {
  int Width = 48;
  int Height = 32;
  // RGB, or ink amounts (0 = no ink) for CMYK and YCCK.
  J_COLOR_SPACE Space = JCS_RGB;
  // Inks stored inverted (255 = no ink) with Adobe's marker, as print software writes them.
  bool Adobe = true;
  bool Progressive = false;
  int Orientation = 0;  // 0: no EXIF segment
  std::vector<std::uint8_t> Profile;
  // Bytes of profile per APP2 chunk, and whether the chunks are written last first.
  std::size_t ChunkSize = 65519;
  bool ChunksReversed = false;
  // Colour (or inks) of each pixel.
  std::function<std::array<std::uint8_t, 4>(int X, int Y)> Pixel;
};

inline std::vector<std::vector<std::uint8_t>> IccChunks(const TPhotoJpeg& P) {
  std::vector<std::vector<std::uint8_t>> Chunks;
  const std::size_t N = (P.Profile.size() + P.ChunkSize - 1) / P.ChunkSize;
  for (std::size_t I = 0; I < N; ++I) {
    std::vector<std::uint8_t> C = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0,
                                   static_cast<std::uint8_t>(I + 1), static_cast<std::uint8_t>(N)};
    const std::size_t From = I * P.ChunkSize, To = std::min(P.Profile.size(), From + P.ChunkSize);
    C.insert(C.end(), P.Profile.begin() + static_cast<std::ptrdiff_t>(From),
             P.Profile.begin() + static_cast<std::ptrdiff_t>(To));
    Chunks.push_back(std::move(C));
  }
  if (P.ChunksReversed) std::reverse(Chunks.begin(), Chunks.end());
  return Chunks;
}

inline std::vector<std::uint8_t> MakePhotoJpeg(const TPhotoJpeg& P) {
  const bool Inks = P.Space == JCS_CMYK || P.Space == JCS_YCCK;
  TJpegEncoding E;
  E.Width = P.Width;
  E.Height = P.Height;
  E.Components = Inks ? 4 : 3;
  E.Quality = 100;
  E.HSamp = E.VSamp = 1;
  E.Progressive = P.Progressive;
  E.Stored = P.Space;
  E.AdobeMarker = P.Adobe;
  if (P.Orientation) E.Markers.emplace_back(JPEG_APP0 + 1, MakeExif(P.Orientation, true, true));
  for (auto& Chunk : IccChunks(P)) E.Markers.emplace_back(JPEG_APP0 + 2, std::move(Chunk));
  return CompressJpeg(E, [&](int Y, JSAMPLE* Row) {
    for (int X = 0; X < P.Width; ++X) {
      const auto V = P.Pixel(X, Y);
      for (int K = 0; K < E.Components; ++K) {
        const std::uint8_t S = V[static_cast<std::size_t>(K)];
        Row[X * E.Components + K] = Inks && P.Adobe ? static_cast<JSAMPLE>(255 - S) : S;
      }
    }
  });
}

// Four quadrants of their own colour, split on block boundaries of a 48 x 32
// picture: top-left, top-right, bottom-left, bottom-right.
inline std::function<std::array<std::uint8_t, 4>(int, int)> Quadrants(const std::array<std::uint8_t, 4> (&Q)[4],
                                                                      int Width = 48, int Height = 32) {
  return [Q, Width, Height](int X, int Y) { return Q[(Y >= Height / 2 ? 2 : 0) + (X >= Width / 2 ? 1 : 0)]; };
}
