// The UI-thread dispatcher: hands tasks from any thread to the UI thread under
// an owner key, with cancellation per owner, and runs repeating UI timers.
// One per process, created at start-up on the UI thread, never destroyed.
//
// A posted task travels as message 8888 (wParam = owner key, lParam = task)
// to the dispatcher's message window on the UI loop; on delivery it runs
// unless its owner was cancelled, and is released in every case. Tasks posted
// by one thread run in the order of posting.
//
// Every function that takes a task takes it over, also when it refuses it:
// the caller never releases a task it handed in.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <unordered_map>

#include "app/tasks/runable.h"
#include "app/tasks/task_owner.h"
#include "platform/event_loop.h"
#include "platform/win_constants.h"

class UiDispatcher {
 public:
  static constexpr UINT kTaskMessage = 8888;
  using TimerId = platform::TimerId;

  // Creates the dispatcher's message window on the calling thread, which
  // becomes the UI thread; a second call does nothing.
  static void create();

  // Adds one to the owner's pending count and posts the task. Any thread.
  // False when there is no dispatcher yet (the task is then released).
  static bool post(OwnerKey owner, Runable* task);
  static bool postDefault(Runable* task);

  // From now on no task of the owner runs: those still queued and those
  // posted later are released unrun. Final; the default owner is never
  // cancelled. Also marks owners that never posted. Any thread.
  static void cancel(OwnerKey owner);

  // A repeating timer that runs the task on the UI thread every interval
  // until killTimer. Returns its identifier (1, 2, ...), or 0 on failure (then
  // the task is released). UI thread only.
  static TimerId setTimer(UINT intervalMs, Runable* task);

  // Removes the timer and releases its task; a task that kills its own timer
  // is released after its run has returned. False for an unknown identifier.
  // UI thread only.
  static bool killTimer(TimerId timerId);

  static bool isUiThread();

 private:
  static constexpr std::int32_t kCancelled = -1;

  static UiDispatcher& instance();
  LRESULT procedure(UINT message, WPARAM wParam, LPARAM lParam);
  void deliverTask(OwnerKey owner, Runable* task);
  void tick(TimerId timerId);

  // The owner table: owner key -> pending count, or kCancelled. Entries are
  // never removed (keys are never reused).
  std::mutex lock_;
  std::unordered_map<OwnerKey, std::int32_t> owners_;

  // Set once by create().
  std::uint32_t uiThreadId_ = 0;
  platform::WindowId window_ = 0;

  // UI thread only.
  std::map<TimerId, Runable*> timers_;
  TimerId lastTimerId_ = 0;
  TimerId runningTimer_ = 0;
  bool runningTimerKilled_ = false;
};
