// WorkerThread: one thread that runs one task. Started, stopped and asked to
// stop from the UI thread; the task runs on its own thread and may look at
// isStopping() and wait on the wake event.
//
// Linux has no safe way to kill a thread, so stop(timeout) asks the task to
// stop (the stop flag and the wake event), waits up to the time-out, and when
// the thread still runs, lets it go (detaches it) and returns false. What the
// thread itself uses stays alive until it ends: its task, its stop flag and
// its wake event live in a block the thread co-owns, and the task is released
// by the thread when it finally returns. What the task points to is its
// owner's business: when stop returns false, the owner must keep those
// objects alive (never free them), the process is ending anyway.
// isStopping() and wakeEvent() called from a let-go thread keep answering for
// that thread (stop requested), even after the WorkerThread was reused.
#pragma once

#include <memory>
#include <thread>

#include "app/tasks/runable.h"
#include "platform/sync_event.h"
#include "platform/win_constants.h"

class WorkerThread {
 public:
  WorkerThread() = default;
  // stop(INFINITE): a thread that may still use its owner is never let go here.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts a thread that runs the task once. False when a thread is still
  // held (started and not stopped, even when it has ended) or cannot be
  // created; the task is then released. Clears the stop flag and creates a
  // new wake event (auto-reset, not signalled).
  bool start(Runable* task);

  // Asks the thread to stop, waits up to `timeoutMs` (INFINITE: no limit) and
  // releases the task. True when the thread ended in time or none was held;
  // false when it was let go still running (see above), or when called from
  // the thread itself (then nothing happens). Afterwards the object is idle:
  // no thread, stop flag clear.
  bool stop(DWORD timeoutMs = INFINITE);

  // Sets the stop flag and signals the wake event; the task decides when to
  // look at them.
  void requestStop();
  bool isStopping() const;

  // The thread's wake event (signalled by a stop request); null when idle.
  platform::SyncEvent* wakeEvent() const;
  // Waits on the wake event: WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED
  // when idle.
  DWORD waitWake(DWORD timeoutMs) const;

  struct State;

 private:
  State* stateForCaller() const;
  void letGo();

  std::shared_ptr<State> state_;
  std::thread thread_;
};
