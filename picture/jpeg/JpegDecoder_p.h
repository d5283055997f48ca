// The libjpeg side of the JPEG graphic: one decompressor over bytes in memory,
// with an error manager that turns the library's fatal errors into EJPEG and a
// progress monitor that calls back into the graphic.
//
// libjpeg reports a fatal error by calling the error manager's error_exit,
// which must not return; ours jumps (longjmp) back to the step that was
// running. A jump must not leave a frame that holds objects with destructors,
// so every library call that can jump runs inside TJpegDecoder::Attempt, whose
// frame and whose step functions hold only trivially destructible locals. The
// C++ exception is raised after Attempt has returned. An exception from the
// progress callback is carried across the library the same way.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <exception>
#include <span>
#include <vector>

#include <jpeglib.h>

#include "picture/jpeg/JpegSplitDecode_p.h"

class TJpegBytes;

class TJpegDecoder {
 public:
  // Called by the library's progress monitor while decoding. It may raise; the
  // decode then stops and the step that was running raises the same exception.
  using TProgressFn = void (*)(void* Context, const jpeg_decompress_struct& Info);

  TJpegDecoder();
  ~TJpegDecoder();
  TJpegDecoder(const TJpegDecoder&) = delete;
  TJpegDecoder& operator=(const TJpegDecoder&) = delete;

  // Creates the decompressor over Data (which must outlive the decoder) and
  // reads the header, an image required. Raises EJPEG, also for a file of
  // several scans with more than JpegPixelLimit() pixels (with the library's
  // "too big" code).
  void Open(std::span<const std::uint8_t> Data);
  // The same over the bytes of a file: from memory when they are all there,
  // else read from the file a piece at a time as the decode goes (Bytes must
  // outlive the decoder). A failure to read raises the reader's exception.
  void Open(const TJpegBytes& Bytes);
  // Whether Open keeps the segments a photograph carries beside its pixels
  // (orientation, colour profile); on by default.
  void SetKeepPhotoMarkers(bool Keep) { FKeepPhotoMarkers = Keep; }
  void AttachProgress(TProgressFn Fn, void* Context);

  // The entropy-coded data of the scan the header ended at, before any of it
  // is decoded.
  TJpegScanData ScanData() const;

  // The decompression parameters and state, to set up before StartDecompress
  // and to read afterwards.
  jpeg_decompress_struct& Info() { return FInfo; }

  // The library's calls, each raising EJPEG (or the progress callback's
  // exception) instead of jumping.
  bool HasMultipleScans();
  void CalcOutputDimensions();
  // Makes Entries (0x00RRGGBB, at most 256) the colour map that output is
  // quantised to.
  void SetColorMap(std::span<const std::uint32_t> Entries);
  // Raises EJPEG with the "too big" code when the output would have more than
  // JpegPixelLimit() pixels.
  void StartDecompress();
  int ConsumeInput();
  void StartOutput(int ScanNumber);
  void FinishOutput();
  // Reads the rest of the current output pass into rows First, First + Stride,
  // ..., asking for RowsPerCall rows per library call.
  void ReadRows(std::uint8_t* First, std::ptrdiff_t Stride, int RowsPerCall);
  void FinishDecompress();
  // Reads up to MaxRows (at most MaxRowsPerCall) rows of the current output
  // pass into Buffer, Stride bytes apart; how many were read, 0 at its end.
  int ReadStrip(std::uint8_t* Buffer, std::ptrdiff_t Stride, int MaxRows);

  // The colour map the library quantises to: Components entries per colour,
  // Count colours; empty when output is not quantised.
  std::vector<std::uint32_t> ColorMap() const;

  // No call reads more rows at once than this (rec_outbuf_height is at most 4).
  static constexpr int MaxRowsPerCall = 16;

 private:
  using TStep = void (*)(TJpegDecoder& D, void* Arg);
  // Runs Step; false when the library jumped out of it.
  bool Attempt(TStep Step, void* Arg);
  // Runs Step and raises when the library jumped out of it.
  void Run(TStep Step, void* Arg = nullptr);
  [[noreturn]] void Raise();
  bool NotifyProgress() noexcept;
  // The file source's read of its next piece: false (with the exception kept)
  // when it raised.
  bool ReadPiece() noexcept;
  void OpenWith(void (*SetSource)(TJpegDecoder& D));

  // The source that reads a file a piece at a time.
  struct TFileSource {
    jpeg_source_mgr Pub{};
    const TJpegBytes* Bytes = nullptr;
    std::size_t Offset = 0;
    std::vector<std::uint8_t> Buffer;
  };
  TFileSource FFile;
  std::span<const std::uint8_t> FMemory;

  static void ErrorExit(j_common_ptr Info);
  static void EmitMessage(j_common_ptr Info, int Level);
  static void OutputMessage(j_common_ptr Info);
  static void ResetErrorManager(j_common_ptr Info);
  static void ProgressMonitor(j_common_ptr Info);

  jpeg_decompress_struct FInfo{};
  jpeg_error_mgr FError{};
  jpeg_progress_mgr FProgress{};
  std::jmp_buf FJump{};
  TProgressFn FProgressFn = nullptr;
  void* FProgressContext = nullptr;
  std::exception_ptr FPending;
  bool FKeepPhotoMarkers = true;
};
