// Helpers of the tests of decoding on worker threads: a recorded progress
// notification, a clock that can hold a decode, running the event loop, and
// comparing decoded pixels.
#pragma once

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "picture/Bitmap.h"
#include "picture/Graphic.h"

struct TNoteRecord {
  TProgressStage Stage;
  int Percent;
  bool RedrawNow;
  TRect R;
  bool operator==(const TNoteRecord&) const = default;
};

// A clock for one graphic's decode that advances by 200 ms per reading, so
// that notifications come at every changed percent after the first two
// readings. It can hold the decode at one reading until released, and is read
// only by the thread that decodes.
struct TClock {
  std::uint64_t Now = 1000;
  int HoldAt = -1;
  std::atomic<int> Readings{0};
  std::atomic<bool> Held{false};
  std::atomic<bool> Released{false};

  std::uint64_t Read() {
    if (++Readings == HoldAt) {
      Held = true;
      while (!Released) std::this_thread::yield();
    }
    return Now += 200;
  }
};

template <class F>
void RunEventsUntil(F&& Done) {
  const auto Limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!Done() && std::chrono::steady_clock::now() < Limit) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Gives queued calls a chance to arrive and run.
inline void RunEventsAWhile() {
  for (int I = 0; I < 20; ++I) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

inline bool SamePixels(const TBitmap& A, const TBitmap& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height() || A.BitsPerPixel() != B.BitsPerPixel()) return false;
  const std::size_t RowBytes = (static_cast<std::size_t>(A.Width()) * A.BitsPerPixel() + 7) / 8;
  for (std::int32_t Y = 0; Y < A.Height(); ++Y)
    if (std::memcmp(A.ScanLine(Y), B.ScanLine(Y), RowBytes) != 0) return false;
  return A.ColorTable() == B.ColorTable();
}
