// Memory that runs out on demand: while a TPixelMemoryFailure lives, every
// request for pixel memory of at least MinBytes fails as if the system had no
// memory left.
#pragma once

#include <cstddef>

#include "picture/Bitmap.h"

class TPixelMemoryFailure {
 public:
  explicit TPixelMemoryFailure(std::size_t MinBytes = 0) {
    SetPixelMemoryHook([this, MinBytes](std::size_t Bytes) {
      if (Bytes < MinBytes) return true;
      ++FFailures;
      return false;
    });
  }
  ~TPixelMemoryFailure() { SetPixelMemoryHook(nullptr); }
  TPixelMemoryFailure(const TPixelMemoryFailure&) = delete;
  TPixelMemoryFailure& operator=(const TPixelMemoryFailure&) = delete;

  // How many requests failed.
  int Failures() const { return FFailures; }

 private:
  int FFailures = 0;
};

// What a user is told when memory runs out.
inline constexpr const char* OutOfMemoryMessage = "System Error.  Code: 12.\r\nCannot allocate memory";
