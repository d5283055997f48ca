// The two-thread JPEG draft decode against the library's own scaled decode:
// a draft it reports done must hold the library's pixels to the bit; anything
// else is a finding (trap).
//
// An input is a parameter record, then edits. The record (16 bytes, missing
// ones zero) gives the picture: its size (1 to 4000 each way, at most
// MaxPixels in all), each component's sampling (common layouts, chroma
// sampled finer than luma, any factors the library writes), quality,
// optimised tables, restart interval, progression, content (flat, noise,
// gradients, edges, a photograph's mix), and the decode: split point, vector
// or plain transforms, which thread places the rows, scales, data in memory
// or read a piece at a time. libjpeg compresses the picture; the edits then
// change its quantised coefficients and the file's bytes, 7 bytes each.
// An input that starts as a JPEG file does is decoded as it is, its last byte
// giving the decode settings as the record's byte 11 does.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "../tests/support/JpegSplit.h"
#include "toolkit/Exceptions.h"

namespace {

// Enough for every MCU layout and many MCUs, few enough for fast runs.
constexpr int MaxPixels = 1 << 18;

struct TRecord {
  std::uint8_t B[16] = {};
  int U16(int I) const { return B[I] << 8 | B[I + 1]; }
};

// Sampling factors (across, down) of luma, Cb and Cr.
constexpr int Layouts[][6] = {
    {2, 2, 1, 1, 1, 1}, {2, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1}, {1, 2, 1, 1, 1, 1}, {4, 1, 1, 1, 1, 1},
    {1, 1, 1, 1, 2, 2}, {1, 1, 2, 2, 1, 1}, {1, 1, 2, 1, 2, 1}, {2, 1, 2, 1, 2, 1}, {2, 2, 1, 1, 2, 2},
    {2, 2, 2, 1, 1, 1}, {1, 2, 2, 1, 1, 1}, {3, 1, 1, 1, 1, 1}, {2, 2, 1, 2, 1, 1}, {1, 1, 1, 2, 2, 1},
    {2, 1, 1, 1, 2, 1}};

std::uint32_t Hash(std::uint32_t X) {
  X ^= X >> 16;
  X *= 0x7feb352du;
  X ^= X >> 15;
  X *= 0x846ca68bu;
  return X ^ (X >> 16);
}

std::uint8_t Sample(int Kind, std::uint32_t Seed, int W, int H, int X, int Y, int C) {
  switch (Kind) {
    case 0:
      return static_cast<std::uint8_t>(Hash(Seed + static_cast<std::uint32_t>(C)));
    case 1:
      return static_cast<std::uint8_t>(Hash(Seed ^ static_cast<std::uint32_t>((Y * W + X) * 3 + C)));
    case 2: {
      const int D = C == 0 ? X * 255 / (W > 1 ? W - 1 : 1) : C == 1 ? Y * 255 / (H > 1 ? H - 1 : 1) : (X + Y) & 255;
      return static_cast<std::uint8_t>(D);
    }
    case 3: {
      const int Period = 1 + static_cast<int>(Seed % 23);
      return ((X / Period + Y / (Period + C)) & 1) ? 250 : 5;
    }
    default: {
      TJpegFileOptions O{W, H};
      O.Noise = Kind == 4;
      return JpegTestSample(O, X, Y, C);
    }
  }
}

// Decodes File's draft at 1/Denom on two threads as the graphic does; when it
// reports done, holds it against the library's.
void Check(const std::vector<std::uint8_t>& File, int Denom, bool Pieces) {
  TSplitResult Got;
  try {
    Got = SplitDecode(TJpegBytes(std::vector<std::uint8_t>(File)), Denom, Pieces);
  } catch (const Exception&) {
    return;
  }
  if (!Got.Done) return;
  const TPlainImage Library = LibraryDecode(File, Denom);
  // The library may fail after its last row, in the markers that follow.
  const std::string Differs = Library.RowsRead < Library.Height ? "the library fails" : Difference(Got, Library);
  if (Differs.empty()) return;
  std::fprintf(stderr, "two-thread draft at 1/%d done, but %s\n", Denom, Differs.c_str());
  __builtin_trap();
}

// The decode settings of a byte: bit 0 plain transforms, bit 1 the second
// thread places every row, bit 2 the first thread does not wait for the
// second's records, bits 3-4 the scales (both, 1/4, 1/8), bit 5 pieces.
void CheckAll(const std::vector<std::uint8_t>& File, std::uint8_t Settings, double At) {
  TJpegSplitSettings& S = JpegSplitSettings();
  S = {true, At, 0, !(Settings & 4), !(Settings & 1)};
  S.LeaveRowsToSecond = Settings & 2;
  const int Scales = (Settings >> 3) & 3;
  if (Scales != 2) Check(File, 4, Settings & 32);
  if (Scales != 1) Check(File, 8, Settings & 32);
}

// Applies one 7-byte edit to the file's bytes; Scan is where its
// entropy-coded data begins.
void EditBytes(std::vector<std::uint8_t>& File, std::size_t Scan, const std::uint8_t* E) {
  if (File.size() <= Scan) return;
  const std::size_t Span = File.size() - Scan;
  const std::size_t At = Scan + ((std::size_t{E[1]} << 16 | std::size_t{E[2]} << 8 | E[3]) % Span);
  const auto Where = File.begin() + static_cast<std::ptrdiff_t>(At);
  switch ((E[0] >> 1) & 7) {
    case 0: File[At] ^= E[4] ? E[4] : 1; break;
    case 1: File[At] = E[4]; break;
    case 2: File.insert(Where, {0xFF, 0x00}); break;
    case 3: File.insert(Where, {0xFF, 0xFF, 0x00}); break;
    case 4: File.erase(Where, Where + std::min<std::ptrdiff_t>(1 + E[4] % 8, File.end() - Where)); break;
    case 5: File.insert(Where, {0xFF, static_cast<std::uint8_t>(0xD0 + E[4] % 8)}); break;
    case 6: File.resize(At); break;
    default: File.insert(Where, E + 4, E + 7); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size >= 2 && Data[0] == 0xFF && Data[1] == 0xD8) {
    CheckAll(std::vector<std::uint8_t>(Data, Data + Size), Data[Size - 1], 0.5);
    return 0;
  }
  TRecord R;
  std::memcpy(R.B, Data, std::min(Size, sizeof R.B));
  const int W = 1 + R.U16(0) % 4000;
  const int H = std::max(1, std::min(1 + R.U16(2) % 4000, MaxPixels / W));
  TJpegCoefficientLayout L;
  const int* Layout = Layouts[R.B[4] % std::size(Layouts)];
  int Raw[6];
  if (R.B[4] & 0x80) {
    // Any factors from 1 to 4 (the library refuses more than ten blocks an MCU).
    const int Bits = R.U16(5);
    for (int K = 0; K < 6; ++K) Raw[K] = 1 + ((Bits >> (2 * K)) & 3);
    Layout = Raw;
  }
  for (int K = 0; K < 3; ++K) {
    L.Samp[K][0] = Layout[2 * K];
    L.Samp[K][1] = Layout[2 * K + 1];
  }
  const int Flags = R.B[8];
  L.Optimize = Flags & 1;
  L.Progressive = (Flags & 6) == 6;
  L.RestartInterval = Flags & 8 ? 1u + R.B[9] % 64 : 0u;
  const int Kind = (Flags >> 4) % 6;
  const std::uint32_t Seed = static_cast<std::uint32_t>(R.U16(12) << 16 | R.U16(14));
  TJpegEncoding E;
  E.Width = W;
  E.Height = H;
  E.Quality = 1 + R.B[7] % 100;
  E.HSamp = E.VSamp = 1;
  const auto Source = CompressJpeg(E, [&](int Y, JSAMPLE* Row) {
    for (int X = 0; X < W; ++X)
      for (int C = 0; C < 3; ++C) Row[3 * X + C] = Sample(Kind, Seed, W, H, X, Y, C);
  });
  // Coefficient edits (odd first byte) by block: component, index in the
  // component's grid, coefficient, and a value added or set.
  const std::uint8_t* Edits = Data + std::min(Size, sizeof R.B);
  const std::size_t EditCount = (Size - std::min(Size, sizeof R.B)) / 7;
  std::vector<std::uint8_t> File = WriteJpegCoefficients(Source, L, [&](const TJpegBlock& B) {
    const int Index = B.Y * B.Across + B.X;
    for (std::size_t K = 0; K < EditCount; ++K) {
      const std::uint8_t* Ed = Edits + 7 * K;
      if (!(Ed[0] & 1) || (Ed[0] >> 1) % 3 != B.Component) continue;
      if ((Ed[1] << 8 | Ed[2]) % (B.Across * B.Down) != Index) continue;
      const int Limit = Ed[3] % 64 ? 1023 : 2047;
      const int Value = static_cast<std::int16_t>(Ed[4] << 8 | Ed[5]);
      const int Was = (Ed[0] & 0x80) ? B.Coef[Ed[3] % 64] : 0;
      B.Coef[Ed[3] % 64] = static_cast<JCOEF>(std::clamp(Was + Value % (Limit + 1), -Limit, Limit));
    }
  });
  if (File.empty()) return 0;
  // The entropy-coded data begins after the first start of scan's segment.
  std::size_t Scan = File.size();
  for (std::size_t I = 2; I + 3 < File.size(); I += 2 + (std::size_t{File[I + 2]} << 8 | File[I + 3])) {
    if (File[I] != 0xFF) break;
    if (File[I + 1] == 0xDA) {
      Scan = I + 2 + (std::size_t{File[I + 2]} << 8 | File[I + 3]);
      break;
    }
  }
  for (std::size_t K = 0; K < EditCount; ++K)
    if (!(Edits[7 * K] & 1)) EditBytes(File, Scan, Edits + 7 * K);
  CheckAll(File, R.B[11], (1 + R.B[10]) / 257.0);
  return 0;
}
