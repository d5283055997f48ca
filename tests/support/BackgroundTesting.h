// Helpers of the tests of decoding on worker threads: a recorded progress
// notification, a clock that can hold a decode, running the event loop, and
// comparing decoded pixels, and abandoning a decode.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/Graphic.h"
#include "toolkit/Classes.h"

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

// Decodes Back on a worker thread to the end and expects the pixels of
// Expected, the same picture decoded at drawing.
template <class T>
void ExpectBackgroundDecodeGives(T& Back, const TBitmap& Expected) {
  Back.StartBackgroundDecode();
  EXPECT_TRUE(Back.BackgroundDecoding());
  EXPECT_FALSE(Back.NeedsDecode());
  RunEventsUntil([&] { return !Back.BackgroundDecoding(); });
  ASSERT_TRUE(Back.Decoded());
  EXPECT_TRUE(SamePixels(Expected, *Back.Bitmap()));
}

// How a running decode is abandoned.
enum TCancelBy { cbFree, cbCancel, cbSetting, cbLoad };

// Starts a background decode of G; when Clock holds the decode at a reading,
// waits until the worker is held there, then lets it go on.
inline void StartHeld(TGraphic& G, TClock& Clock) {
  G.StartBackgroundDecode();
  if (Clock.HoldAt <= 0) return;
  while (!Clock.Held) std::this_thread::yield();
  Clock.Released = true;
}

// Abandons G's running decode as By says (by freeing G, cancelling, Change:
// changing a setting that alters the picture, or loading Bytes again), gives
// queued calls time to arrive, and checks that none of the decode's
// notifications came and that G, if still there, decodes afresh.
template <class T, class F>
void ExpectAbandoned(std::unique_ptr<T>& G, TCancelBy By, const std::vector<std::uint8_t>& Bytes, F&& Change,
                     const std::vector<TNoteRecord>& Notes) {
  switch (By) {
    case cbFree: G.reset(); break;
    case cbCancel: G->CancelBackgroundDecode(); break;
    case cbSetting: Change(*G); break;
    case cbLoad: {
      auto S = TMemoryStream::Over(Bytes);
      G->LoadFromStream(*S);
      break;
    }
  }
  RunEventsAWhile();
  EXPECT_TRUE(Notes.empty());
  if (!G) return;
  EXPECT_FALSE(G->BackgroundDecoding());
  EXPECT_FALSE(G->Decoded());
  EXPECT_TRUE(G->NeedsDecode());
}
