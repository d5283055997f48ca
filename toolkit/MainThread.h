// Calls handed from worker threads to the user-interface thread. A call runs
// from the event loop of the application's thread; calls queued by one thread
// run in the order they were queued.
//
// The calls themselves sit in a queue of our own under a standard mutex; the
// event loop receives only a payload-free wake-up event. So every hand-over of
// data between the threads goes through the one mutex, which thread checkers
// see.
#pragma once

#include <functional>

// Queues Fn for the user-interface thread. Callable from any thread. An
// exception that leaves Fn goes to the application's exception handler.
void QueueMainThreadCall(std::function<void()> Fn);
