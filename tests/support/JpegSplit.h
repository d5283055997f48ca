// The two-thread draft decode of a JPEG file as the JPEG graphic runs it,
// for the tests and the differential fuzz target that hold it against the
// library's own decode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/jpeg/JpegBytes_p.h"
#include "picture/jpeg/JpegDecoder_p.h"
#include "picture/jpeg/JpegSplitDecode_p.h"
#include "JpegFiles.h"

struct TSplitResult {
  bool Done = false;
  int Width = 0, Height = 0;
  std::ptrdiff_t Stride = 0;
  std::vector<std::uint8_t> Bits;
  std::vector<std::uint32_t> Reports;
};

// The draft at 1/Denom, its rows first filled with a pattern; Done when the
// decode did not give up. Pieces reads the data as from a file, a piece at a
// time. Raises what opening the file raises.
inline TSplitResult SplitDecode(const TJpegBytes& Bytes, int Denom, bool Pieces = false) {
  TSplitResult R;
  TJpegDecoder D;
  D.Open(Bytes);
  jpeg_decompress_struct& I = D.Info();
  I.scale_num = 1;
  I.scale_denom = static_cast<unsigned>(Denom);
  I.out_color_space = JCS_EXT_BGR;
  D.CalcOutputDimensions();
  if (!JpegSplitSuits(I)) return R;
  R.Width = static_cast<int>(I.output_width);
  R.Height = static_cast<int>(I.output_height);
  R.Stride = (static_cast<std::ptrdiff_t>(R.Width) * 3 + 3) / 4 * 4;
  R.Bits.assign(static_cast<std::size_t>(R.Stride * R.Height), 0xA5);
  TJpegScanData Data = D.ScanData();
  if (Pieces) {
    Data.Memory = {};
    Data.File = &Bytes;
  }
  R.Done = JpegSplitDecode(I, Data, R.Bits.data(), R.Stride, [&](std::uint32_t Rows) { R.Reports.push_back(Rows); });
  return R;
}

// The first row and column where the two differ, or an empty string.
inline std::string Difference(const TSplitResult& Ours, const TPlainImage& Theirs) {
  if (Ours.Width != Theirs.Width || Ours.Height != Theirs.Height)
    return "size " + std::to_string(Ours.Width) + "x" + std::to_string(Ours.Height) + " against " +
           std::to_string(Theirs.Width) + "x" + std::to_string(Theirs.Height);
  for (int Y = 0; Y < Ours.Height; ++Y) {
    const std::uint8_t* A = Ours.Bits.data() + Y * Ours.Stride;
    const std::uint8_t* B = Theirs.Bits.get() + Y * Theirs.Stride;
    for (int X = 0; X < Ours.Width * 3; ++X)
      if (A[X] != B[X])
        return "row " + std::to_string(Y) + " byte " + std::to_string(X) + ": " + std::to_string(A[X]) + " against " +
               std::to_string(B[X]);
  }
  return "";
}

// The library's own decode at 1/Denom, from memory.
inline TPlainImage LibraryDecode(const std::vector<std::uint8_t>& File, int Denom) {
  return PlainDecode(File, [Denom](jpeg_decompress_struct& D) {
    D.scale_num = 1;
    D.scale_denom = static_cast<unsigned>(Denom);
  });
}
