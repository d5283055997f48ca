// A decode at first drawing run on a worker thread. The worker decodes a
// private copy of the graphic with the graphic's own synchronous decode; the
// copy's progress notifications are handed to the user-interface thread and
// raised there by the graphic itself, in order and with the same values. When
// the worker has returned, the graphic takes the decoded result over from the
// copy and raises the last notification (psEnding).
//
// Nothing of the graphic itself is touched by the worker, and the worker's
// copy is read on the user-interface thread only after the worker has ended,
// so the two threads share only the queue of notifications below and, for a
// graphic that shows decodes in progress, the rows decoded so far: at each
// notification that asks for a repaint the worker copies the rows new since
// the previous one into a shared bitmap, and the user-interface thread copies
// them from there into the preview it draws before it raises the notification.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "picture/Bitmap.h"
#include "picture/Graphic.h"

// Raised inside the worker's decode when the decode was cancelled; it never
// leaves the worker.
class EDecodeCancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "decode cancelled"; }
};

class TBackgroundDecode {
 public:
  // Starts decoding Copy, a private copy of Owner, on a worker thread; while
  // MaxDecodeWorkers workers run or are set aside, the decode waits for one
  // of them to end (the picture is drawn as while it decodes).
  TBackgroundDecode(TGraphic& Owner, std::unique_ptr<TGraphic> Copy);
  // Stops the worker at its next check and frees the copy; no notification of
  // this decode is raised any more. A worker that does not stop at once (a
  // format library that decodes in one call cannot be interrupted) is set
  // aside, so that the user-interface thread does not wait for it: it is
  // joined, and its copy freed, once it has ended (or by FinishAbandonedDecodes).
  ~TBackgroundDecode();
  TBackgroundDecode(const TBackgroundDecode&) = delete;
  TBackgroundDecode& operator=(const TBackgroundDecode&) = delete;

  // Waits for the worker (a decode still waiting for a worker runs on this
  // thread), then raises on Owner the notifications not raised yet. False
  // when one of their handlers closed the decode (this object is then gone).
  bool WaitAndDeliver();
  // After the worker has ended: hands the copy to Owner's TakeDecoded, raises
  // the last notification and returns the decode's failure (or null). The
  // caller owns this object by then and destroys it afterwards.
  std::exception_ptr Complete();
  // User-interface thread: the picture as decoded up to the last notification
  // raised, or null (see TGraphic::BackgroundPreview).
  TBitmap* Preview() const { return FPreview.get(); }

 private:
  struct TNote {
    TProgressStage Stage;
    std::uint8_t Percent;
    bool RedrawNow;
    TRect R;
  };
  // Rows the worker published for the preview, under Mutex.
  struct TRows {
    std::unique_ptr<TBitmap> Bitmap;
    // The rows changed since the user-interface thread last took them.
    std::int32_t Top = 0, Bottom = 0;
    // The worker's last band ends here: a band that does not start there (a
    // new pass, a turned picture) is published whole.
    std::int32_t Next = 0;
  };
  // What both threads see, under Mutex (Cancel is read by the worker without
  // it). The copy is the worker's alone until Done is set.
  struct TShared : std::enable_shared_from_this<TShared> {
    std::unique_ptr<TGraphic> Copy;
    std::mutex Mutex;
    std::condition_variable Ended;
    std::deque<TNote> Notes;
    std::optional<TNote> Ending;
    bool Done = false;
    std::exception_ptr Failure;
    TRows Rows;
    std::atomic<bool> Cancel{false};
    // Set on the user-interface thread when the decode is abandoned or
    // completed; read there only.
    bool Closed = false;
    TBackgroundDecode* Job = nullptr;
  };

  // The worker touches only S, never this object, which may be gone before it ends.
  static void Work(const std::shared_ptr<TShared>& S);
  // Worker: the copy's progress notification, queued for the user-interface thread.
  static void Post(TShared& S, TProgressStage Stage, std::uint8_t Percent, bool RedrawNow, const TRect& R);
  static void WakeUp(const std::shared_ptr<TShared>& S);
  // Worker, under Mutex: copies band R of the copy's partial picture B.
  static void Publish(TShared& S, const TBitmap& B, const TRect& R);
  // User-interface thread: brings the preview up to the published rows, then
  // raises N on Owner.
  static void Raise(const std::shared_ptr<TShared>& S, const TNote& N);
  // User-interface thread: raises the queued notifications on Owner; completes
  // the decode when the worker has ended. Stops as soon as a notification's
  // handler closes the decode (by loading another picture, for one).
  static void Deliver(const std::shared_ptr<TShared>& S);

  friend void FinishAbandonedDecodes();
  // User-interface thread: joins the set-aside workers that have ended (all
  // of them when Wait) and frees their copies, then starts the decodes that
  // waited for a worker, as far as the limit allows.
  static void ReapAbandoned(bool Wait);
  // User-interface thread: runs the decode on a worker thread; false when no
  // thread could be started.
  bool Launch();

  TGraphic& FOwner;
  std::shared_ptr<TShared> FShared;
  std::thread FThread;
  // Read and written on the user-interface thread only.
  std::unique_ptr<TBitmap> FPreview;
  // The worker was started (and counts against the limit until it is joined
  // or set aside).
  bool FLaunched = false;
};

// Waits for every worker of an abandoned decode and frees what it held; the
// program calls it before it ends, so that no decode outlives its window.
// Waits too for the workers that composed frames of animations ahead.
void FinishAbandonedDecodes();
