#include "toolkit/MainThread.h"

#include <deque>
#include <mutex>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include "toolkit/Exceptions.h"

namespace {

std::mutex QueueMutex;
std::deque<std::function<void()>> Queue;

const QEvent::Type WakeUp = static_cast<QEvent::Type>(QEvent::registerEventType());

// Runs what is queued, one call at a time: a call may queue further calls or
// run the event loop itself.
void RunQueuedCalls() {
  for (;;) {
    std::function<void()> Fn;
    {
      const std::lock_guard<std::mutex> Lock(QueueMutex);
      if (Queue.empty()) return;
      Fn = std::move(Queue.front());
      Queue.pop_front();
    }
    RunGuarded(Fn);
  }
}

class TMainThreadReceiver : public QObject {
 public:
  // The events this object gets are the wake-ups and Qt's own bookkeeping.
  // The queue is run for any of them without reading the event here: it was
  // made on another thread, and only Qt's own locking orders that.
  // Qt's bookkeeping also reaches it on the thread that made it, before it
  // moved: the queue runs on the application's thread only.
  bool event(QEvent* E) override {
    const QCoreApplication* App = QCoreApplication::instance();
    if (App && QThread::currentThread() == App->thread()) RunQueuedCalls();
    return QObject::event(E);
  }
};

// Lives in the application's thread whichever thread first asks for it; it is
// never destroyed, as wake-ups may still be posted while the program ends.
QObject* Receiver() {
  static QObject* const R = [] {
    auto* O = new TMainThreadReceiver;
    if (QCoreApplication* App = QCoreApplication::instance()) O->moveToThread(App->thread());
    return O;
  }();
  return R;
}

}  // namespace

void QueueMainThreadCall(std::function<void()> Fn) {
  {
    const std::lock_guard<std::mutex> Lock(QueueMutex);
    Queue.push_back(std::move(Fn));
  }
  QCoreApplication::postEvent(Receiver(), new QEvent(WakeUp));
}
