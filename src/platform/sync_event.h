// An event object with timed waits, as CreateEvent makes on Windows: an
// auto-reset event lets one waiter through per set() and then reads as
// unsignalled again; a manual-reset event stays signalled until reset().
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/win_constants.h"

namespace platform {

class SyncEvent {
 public:
  enum class Reset { Auto, Manual };

  explicit SyncEvent(Reset mode = Reset::Auto, bool signalled = false);
  SyncEvent(const SyncEvent&) = delete;
  SyncEvent& operator=(const SyncEvent&) = delete;

  void set();    // SetEvent; callable from any thread
  void reset();  // ResetEvent

  // WAIT_OBJECT_0 when the event was (or became) signalled within the time,
  // WAIT_TIMEOUT otherwise. INFINITE waits without limit; 0 only tests.
  // Never busy-waits; the limit is measured on the monotonic clock.
  DWORD wait(DWORD timeoutMs);

 private:
  const Reset mode_;
  bool signalled_;
  std::mutex mutex_;
  std::condition_variable changed_;
};

}  // namespace platform
