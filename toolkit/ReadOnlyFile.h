// A regular file opened for reading, for readers that place its parts
// straight where they belong instead of holding the whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "toolkit/Classes.h"

// Opened as ReadWholeFile opens a file, with the same refusals.
class TReadOnlyFile {
 public:
  explicit TReadOnlyFile(const std::string& FileName);
  ~TReadOnlyFile();
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  // The size at opening; nothing past it is read.
  std::uint64_t Size() const { return FSize; }
  // Fills the Count buffers in turn with the bytes from Offset on; returns how
  // many it read, fewer only where the file (or its size at opening) ends.
  // Raises EFOpenError as ReadWholeFile does when the system fails to read.
  std::size_t ReadAt(std::uint64_t Offset, std::uint8_t* const* Buffers, const std::size_t* Lengths,
                     std::size_t Count);
  std::size_t ReadAt(std::uint64_t Offset, std::uint8_t* Buffer, std::size_t Length) {
    return ReadAt(Offset, &Buffer, &Length, 1);
  }
  // The whole file.
  TFileBytes ReadAll();

 private:
  [[noreturn]] void Refuse(const std::string& Reason) const;

  std::string FName;
  int FFd = -1;
  std::uint64_t FSize = 0;
};
