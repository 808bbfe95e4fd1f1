// A handle that owns at most one repeating UI timer (UiDispatcher::setTimer).
// UI thread only. Destroying the handle kills its timer.
#pragma once

#include "app/tasks/runable.h"
#include "app/tasks/ui_dispatcher.h"

class UiTimer {
 public:
  UiTimer() = default;
  ~UiTimer() { kill(); }
  UiTimer(const UiTimer&) = delete;
  UiTimer& operator=(const UiTimer&) = delete;

  // Kills the timer the handle holds, then starts a new one that runs the task
  // every interval. False when the interval is 0, the task is empty or the
  // timer cannot be made; a task handed in is released in those cases.
  bool start(UINT intervalMs, Runable* task);

  // Kills the timer (its task is released); safe to repeat. A task may kill
  // its own timer while it runs.
  void kill();

  bool isActive() const { return timerId_ != 0; }

 private:
  UiDispatcher::TimerId timerId_ = 0;
};
