#include "app/tasks/ui_timer.h"

bool UiTimer::start(UINT intervalMs, Runable* task) {
  if (!task) return false;
  if (intervalMs == 0) {
    task->release();
    return false;
  }
  kill();
  timerId_ = UiDispatcher::setTimer(intervalMs, task);
  return timerId_ != 0;
}

void UiTimer::kill() {
  if (timerId_ == 0) return;
  UiDispatcher::killTimer(timerId_);
  timerId_ = 0;
}
