// TIFF files written with libtiff into memory, for the tests and benchmarks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include <tiffio.h>

struct TTiffPage {
  std::uint32_t Width = 20;
  std::uint32_t Height = 12;
  std::uint16_t Samples = 3;
  std::uint16_t Bits = 8;
  std::uint16_t Photometric = PHOTOMETRIC_RGB;
  std::uint16_t Compression = COMPRESSION_NONE;
  std::uint16_t Planar = PLANARCONFIG_CONTIG;
  std::uint16_t Orientation = 0;  // 0: no tag
  // EXTRASAMPLE_ASSOCALPHA or EXTRASAMPLE_UNASSALPHA for the last sample, 0 for none.
  std::uint16_t Alpha = 0;
  std::uint32_t TileSize = 0;  // 0: strips
  std::uint32_t RowsPerStrip = 4;
  std::uint16_t Predictor = 0;
  std::vector<std::uint8_t> Profile;
  // 16-bit red, green, blue entries of a palette page.
  std::vector<std::uint16_t> Palette;
  // Sample K of pixel (X, Y), in the page's bits (0..2^Bits-1).
  std::function<std::uint32_t(std::uint32_t X, std::uint32_t Y, int K)> Sample;
};

namespace tiff_files_detail {

struct TBuffer {
  std::vector<std::uint8_t> Bytes;
  std::uint64_t Pos = 0;
};

inline tsize_t Read(thandle_t H, tdata_t B, tsize_t N) {
  auto& F = *static_cast<TBuffer*>(H);
  const std::uint64_t Avail = F.Pos < F.Bytes.size() ? F.Bytes.size() - F.Pos : 0;
  const auto Got = static_cast<tsize_t>(std::min<std::uint64_t>(Avail, static_cast<std::uint64_t>(N)));
  std::memcpy(B, F.Bytes.data() + F.Pos, static_cast<std::size_t>(Got));
  F.Pos += static_cast<std::uint64_t>(Got);
  return Got;
}
inline tsize_t Write(thandle_t H, tdata_t B, tsize_t N) {
  auto& F = *static_cast<TBuffer*>(H);
  if (F.Bytes.size() < F.Pos + static_cast<std::uint64_t>(N)) F.Bytes.resize(F.Pos + static_cast<std::uint64_t>(N));
  std::memcpy(F.Bytes.data() + F.Pos, B, static_cast<std::size_t>(N));
  F.Pos += static_cast<std::uint64_t>(N);
  return N;
}
inline toff_t Seek(thandle_t H, toff_t Off, int Whence) {
  auto& F = *static_cast<TBuffer*>(H);
  F.Pos = (Whence == SEEK_SET ? 0 : Whence == SEEK_CUR ? F.Pos : F.Bytes.size()) + Off;
  return F.Pos;
}
inline int Close(thandle_t) { return 0; }
inline toff_t Size(thandle_t H) { return static_cast<TBuffer*>(H)->Bytes.size(); }
inline int Map(thandle_t, tdata_t*, toff_t*) { return 0; }
inline void Unmap(thandle_t, tdata_t, toff_t) {}

inline void PutSample(std::vector<std::uint8_t>& Row, std::size_t Index, int Bits, std::uint32_t V) {
  if (Bits == 16) {
    std::memcpy(Row.data() + 2 * Index, &V, 2);  // the host's byte order, as libtiff writes it
  } else if (Bits == 8) {
    Row[Index] = static_cast<std::uint8_t>(V);
  } else {
    const std::size_t Bit = Index * static_cast<std::size_t>(Bits);
    Row[Bit / 8] |= static_cast<std::uint8_t>(V << (8 - Bits - Bit % 8));
  }
}

inline void WritePage(TIFF* T, const TTiffPage& P) {
  TIFFSetField(T, TIFFTAG_IMAGEWIDTH, P.Width);
  TIFFSetField(T, TIFFTAG_IMAGELENGTH, P.Height);
  TIFFSetField(T, TIFFTAG_SAMPLESPERPIXEL, P.Samples);
  TIFFSetField(T, TIFFTAG_BITSPERSAMPLE, P.Bits);
  TIFFSetField(T, TIFFTAG_PHOTOMETRIC, P.Photometric);
  TIFFSetField(T, TIFFTAG_COMPRESSION, P.Compression);
  TIFFSetField(T, TIFFTAG_PLANARCONFIG, P.Planar);
  if (P.Predictor) TIFFSetField(T, TIFFTAG_PREDICTOR, P.Predictor);
  if (P.Orientation) TIFFSetField(T, TIFFTAG_ORIENTATION, P.Orientation);
  if (P.Alpha) {
    const std::uint16_t Extra[1] = {P.Alpha};
    TIFFSetField(T, TIFFTAG_EXTRASAMPLES, 1, Extra);
  }
  if (!P.Profile.empty())
    TIFFSetField(T, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(P.Profile.size()), P.Profile.data());
  if (P.Photometric == PHOTOMETRIC_PALETTE) {
    std::vector<std::uint16_t> R(1u << P.Bits), G(R.size()), B(R.size());
    for (std::size_t I = 0; I * 3 + 2 < P.Palette.size() && I < R.size(); ++I) {
      R[I] = P.Palette[3 * I];
      G[I] = P.Palette[3 * I + 1];
      B[I] = P.Palette[3 * I + 2];
    }
    TIFFSetField(T, TIFFTAG_COLORMAP, R.data(), G.data(), B.data());
  }
  const bool Separate = P.Planar == PLANARCONFIG_SEPARATE;
  const int PerPixel = Separate ? 1 : P.Samples;
  auto RowOf = [&](std::uint32_t Y, std::uint32_t X0, std::uint32_t Width, int Plane) {
    std::vector<std::uint8_t> Row((static_cast<std::size_t>(Width) * PerPixel * P.Bits + 7) / 8);
    for (std::uint32_t X = 0; X < Width; ++X)
      for (int K = 0; K < PerPixel; ++K) {
        const std::uint32_t Sx = X0 + X;
        const std::uint32_t V = Sx < P.Width && Y < P.Height ? P.Sample(Sx, Y, Separate ? Plane : K) : 0;
        PutSample(Row, static_cast<std::size_t>(X) * PerPixel + K, P.Bits, V);
      }
    return Row;
  };
  const int Planes = Separate ? P.Samples : 1;
  if (P.TileSize) {
    TIFFSetField(T, TIFFTAG_TILEWIDTH, P.TileSize);
    TIFFSetField(T, TIFFTAG_TILELENGTH, P.TileSize);
    for (int Plane = 0; Plane < Planes; ++Plane)
      for (std::uint32_t Ty = 0; Ty < P.Height; Ty += P.TileSize)
        for (std::uint32_t Tx = 0; Tx < P.Width; Tx += P.TileSize) {
          std::vector<std::uint8_t> Tile;
          for (std::uint32_t Y = 0; Y < P.TileSize; ++Y) {
            const auto Row = RowOf(Ty + Y, Tx, P.TileSize, Plane);
            Tile.insert(Tile.end(), Row.begin(), Row.end());
          }
          TIFFWriteTile(T, Tile.data(), Tx, Ty, 0, static_cast<std::uint16_t>(Plane));
        }
  } else {
    TIFFSetField(T, TIFFTAG_ROWSPERSTRIP, P.RowsPerStrip);
    for (int Plane = 0; Plane < Planes; ++Plane)
      for (std::uint32_t Y = 0; Y < P.Height; ++Y) {
        auto Row = RowOf(Y, 0, P.Width, Plane);
        TIFFWriteScanline(T, Row.data(), Y, static_cast<std::uint16_t>(Plane));
      }
  }
  TIFFWriteDirectory(T);
}

}  // namespace tiff_files_detail

// A TIFF file of the given pages, the first being the picture.
inline std::vector<std::uint8_t> MakeTiff(const std::vector<TTiffPage>& Pages) {
  tiff_files_detail::TBuffer Buffer;
  TIFF* T = TIFFClientOpen("test", "w", &Buffer, tiff_files_detail::Read, tiff_files_detail::Write,
                           tiff_files_detail::Seek, tiff_files_detail::Close, tiff_files_detail::Size,
                           tiff_files_detail::Map, tiff_files_detail::Unmap);
  for (const TTiffPage& P : Pages) tiff_files_detail::WritePage(T, P);
  TIFFClose(T);
  return Buffer.Bytes;
}
inline std::vector<std::uint8_t> MakeTiff(const TTiffPage& Page) { return MakeTiff(std::vector<TTiffPage>{Page}); }
