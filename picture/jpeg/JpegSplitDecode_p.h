// A reduced decode (1/4 or 1/8 of the picture's size) of a single-scan,
// Huffman-coded YCbCr JPEG on two threads, for drafts of large pictures.
//
// The entropy-coded data of such a file has no points to start from but its
// beginning: each code's place depends on every code before it, and each
// block's DC value on the one before. The second thread starts in the middle
// anyway, as if an MCU began there. JPEG's Huffman codes fall back into step
// after a few codes, so after a few MCUs it decodes the true ones, recording
// where each of its MCUs began. The first thread decodes from the beginning;
// once past the middle, it compares where its MCUs begin with those records.
// At the first match both threads stand at the same MCU, and everything the
// second decoded from there is right except for each component's DC values,
// which are all off by one constant: the first thread's DC predictions at
// the match less the second's. The second thread therefore keeps its blocks'
// inverse transforms without the DC term. Once the match is known, the first
// thread places those blocks, DC terms added, row by row from the top, and the
// second, when it has decoded them all, from the bottom up.
//
// The result is the library's own to the bit: its reduced inverse DCTs, its
// chroma upsampling and its colour conversion are reproduced exactly. Any
// file that is not plainly well-formed (a bad code, a marker inside the
// data, data that ends early, unusual tables or sampling) makes the decode
// give up before reporting success, and the caller decodes with the library,
// which then handles the file as it always has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <functional>
#include <span>

#include <jpeglib.h>

class TJpegBytes;

// The entropy-coded data of the file's scan, from Begin to the end of the
// file: in memory, or read from the file a piece at a time.
struct TJpegScanData {
  std::span<const std::uint8_t> Memory;
  const TJpegBytes* File = nullptr;
  std::size_t Begin = 0;
  std::size_t End = 0;
};

struct TJpegSplitSettings {
  // Whether reduced decodes are done here when they can be: on when the
  // machine has two threads to give.
  bool Enabled;
  // Where the second thread starts, as a fraction of the entropy-coded data
  // (tests move it; 0 or less decodes on one thread).
  double SplitAt = 0.5;
  // Pictures of fewer MCUs are left to the library: a second thread would
  // not pay for itself.
  std::size_t MinMcus = 2048;
  // Whether the first thread, once past the split point, waits for the
  // second's records instead of going on alone (tests: a result that does not
  // depend on how the threads are scheduled).
  bool WaitForSecond = false;
  // Whether the inverse transforms and the placing of samples run on vector
  // instructions where the machine has them (tests compare both ways with
  // the library).
  bool Vector = true;
  // The most the second thread may keep, in bytes (see SetUp): the memory
  // a draft may cost beyond its own.
  std::size_t MaxKept = std::size_t{64} << 20;
  // Whether the first thread, once matched, leaves every row it can to the
  // second (tests: the second thread's placing, whatever the scheduling).
  bool LeaveRowsToSecond = false;
};
TJpegSplitSettings& JpegSplitSettings();
// MCUs of the last split decode that the second thread supplied (for tests
// and measurements).
std::size_t JpegSplitLastTakenFromSecond();

// Whether the decode set up in Info (header read, output size calculated,
// colour output in the bitmap's byte order) can be done here.
bool JpegSplitSuits(const jpeg_decompress_struct& Info);

// Called on the calling thread once output rows [0, Rows) are written. It may
// raise; the decode then stops, waits for its other thread and raises the same.
using TJpegRowsDone = std::function<void(std::uint32_t Rows)>;

// Decodes the picture into rows First, First + Stride, ... (output_width
// pixels of blue, green, red each, output_height rows). False when it gave up:
// the rows hold nothing usable and the library should decode the file.
// Raises what reading the file or RowsDone raises.
bool JpegSplitDecode(const jpeg_decompress_struct& Info, const TJpegScanData& Data, std::uint8_t* First,
                     std::ptrdiff_t Stride, const TJpegRowsDone& RowsDone);
