// The bytes of a JPEG file as the JPEG graphic holds them: bytes in memory, or
// a file opened at loading of which only the start (enough for the header)
// has been read. A decode reads the rest piece by piece as it goes, on a
// worker thread when decoding in the background, so that loading a large file
// costs the user-interface thread only its header and the file's bytes are
// never all held for a decode; saving reads them whole. The open file is
// read, not its name: a file deleted or replaced under the same name
// meanwhile still gives the bytes loaded. A file changed in place (another
// size or modification time) gives EReadError instead of bytes that were
// never loaded; the file stays open as long as the bytes are held.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "toolkit/Classes.h"

class TJpegBytes {
 public:
  explicit TJpegBytes(TFileBytes Bytes);
  explicit TJpegBytes(std::vector<std::uint8_t> Bytes);
  // Opens FileName and reads at most Start bytes of it. Raises EFOpenError as
  // ReadWholeFile does (a missing file, a directory, not a regular file).
  static std::shared_ptr<TJpegBytes> Open(const std::string& FileName, std::size_t Start);
  ~TJpegBytes();
  TJpegBytes(const TJpegBytes&) = delete;
  TJpegBytes& operator=(const TJpegBytes&) = delete;

  // The size of the file at loading (of the bytes in memory).
  std::size_t Size() const { return FSize; }
  bool Empty() const { return FSize == 0; }
  // Whether the bytes are all there: the file was read whole (or the bytes
  // were given).
  bool Complete() const;
  // The bytes read so far.
  std::span<const std::uint8_t> Start() const;
  // All the bytes, reading the rest of the file first. Raises EReadError when
  // the rest cannot be read or the file changed since loading; every later
  // call raises the same. Any thread may call it.
  std::span<const std::uint8_t> All() const;
  // Raises as All() would when the file changed since loading.
  void CheckUnchanged() const;
  // Copies up to Count bytes from Offset into To, from memory or the file;
  // how many, 0 at the end. Raises as All() does. Any thread may call it.
  std::size_t Read(std::size_t Offset, std::uint8_t* To, std::size_t Count) const;

 private:
  TJpegBytes() = default;
  void ReadRest() const;
  // Under FMutex: raises the kept failure, or EReadError (kept) when the file
  // changed since loading.
  void Check() const;

  mutable std::mutex FMutex;
  mutable TFileBytes FBytes;
  // Bytes given as a plain vector.
  std::vector<std::uint8_t> FGiven;
  // FBytes's or FGiven's.
  mutable const std::uint8_t* FBase = nullptr;
  // Bytes of FBytes read so far.
  mutable std::size_t FRead = 0;
  std::size_t FSize = 0;
  mutable int FFd = -1;
  std::string FFileName;
  // The file's identity at loading.
  std::int64_t FModified = 0;
  mutable std::exception_ptr FFailure;
};
