// Composes the frames of a large animation a frame ahead on a worker thread,
// so that the animation timer's step on the user-interface thread only swaps
// the ready frame in. The worker keeps its own canvas and compositor, copies
// each frame it composed into a bitmap of the displayed orientation and waits
// until the user-interface thread has taken it and given back the bitmap it
// showed before; so it is at most one frame ahead and three canvases are held.
//
// The two threads share only the state below, under its mutex: the bitmap
// waiting to be shown and the one given back. While the worker runs, the
// user-interface thread calls only the frame source's const members (its
// frame count and frame information); Render runs on the worker alone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "picture/Bitmap.h"
#include "picture/decoding/Orientation.h"

class TFrameSource;

// Waits until every frame-ahead worker, stopped ones included, has ended
// (each ends after the frame it is composing): before the program ends.
void FinishFrameAheadWorkers();

class TFrameAhead {
 public:
  // Starts composing the frames that follow frame Shown of Frames (which
  // the worker composes again first, from frame 0) on a W x H canvas as
  // stored, shown turned by O. File holds the bytes the frames are read
  // from: the worker keeps them for as long as it runs.
  TFrameAhead(std::shared_ptr<const void> File, std::shared_ptr<TFrameSource> Frames, std::int32_t W, std::int32_t H,
              TOrientation O, int Shown);
  // Tells the worker to stop without waiting for it: it ends after the frame
  // it is composing, and frees what it holds then.
  ~TFrameAhead();
  TFrameAhead(const TFrameAhead&) = delete;
  TFrameAhead& operator=(const TFrameAhead&) = delete;

  // A frame composed by the worker.
  struct TFrame {
    int Index = 0;
    // The area that changed since the previous frame, as displayed.
    TRect Changed;
    bool Opaque = false;
    // The frame could not be drawn (it shows what was drawn of it), or the
    // worker could not go on: the animation ends with it.
    bool Failed = false;
  };
  // User-interface thread: when the next frame is ready, swaps its bitmap
  // with Shown, hands the bitmap shown so far to the worker to fill again and
  // returns true. False while the frame is not ready; true with Failed and
  // Shown untouched when the worker had to give up without a frame.
  bool Take(std::unique_ptr<TBitmap>& Shown, TFrame& Frame);

 private:
  struct TShared {
    std::shared_ptr<const void> File;  // goes after the frames that read it
    std::shared_ptr<TFrameSource> Frames;
    std::int32_t Width = 0, Height = 0;
    TOrientation Orientation = orNormal;
    std::mutex Mutex;
    std::condition_variable Wake;
    std::atomic<bool> Stop{false};
    // The bitmap for the worker to fill next, and the one filled.
    std::unique_ptr<TBitmap> Spare;
    std::unique_ptr<TBitmap> Ready;
    TFrame ReadyFrame;
    // The worker ended without a frame (out of memory).
    bool GaveUp = false;
  };
  static void Work(const std::shared_ptr<TShared>& S, int Shown);

  std::shared_ptr<TShared> FShared;
};
