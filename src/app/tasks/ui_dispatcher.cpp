#include "app/tasks/ui_dispatcher.h"

#include <atomic>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "utility/log.h"

namespace {
std::atomic<bool> created{false};
}  // namespace

UiDispatcher& UiDispatcher::instance() {
  // Deliberately never destroyed: worker threads may still post while the
  // process ends.
  static UiDispatcher* dispatcher = new UiDispatcher();
  return *dispatcher;
}

void UiDispatcher::create() {
  UiDispatcher& d = instance();
  std::lock_guard<std::mutex> lock(d.lock_);
  if (created.load()) return;
  d.uiThreadId_ = platform::currentThreadId();
  d.window_ = platform::uiLoop().createWindow(
      [&d](UINT message, WPARAM wParam, LPARAM lParam) { return d.procedure(message, wParam, lParam); });
  created.store(true, std::memory_order_release);
}

bool UiDispatcher::isUiThread() {
  return created.load(std::memory_order_acquire) &&
         instance().uiThreadId_ == platform::currentThreadId();
}

bool UiDispatcher::post(OwnerKey owner, Runable* task) {
  if (!task) return false;
  UiDispatcher& d = instance();
  {
    std::lock_guard<std::mutex> lock(d.lock_);
    std::int32_t& pending = d.owners_.try_emplace(owner, 0).first->second;
    if (pending != kCancelled) ++pending;
  }
  if (created.load(std::memory_order_acquire) &&
      platform::uiLoop().postMessage(d.window_, kTaskMessage, owner, reinterpret_cast<LPARAM>(task))) {
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(d.lock_);
    std::int32_t& pending = d.owners_[owner];
    if (pending > 0) --pending;
  }
  VLOG(L"post refused, lastError = %d", static_cast<int>(platform::getLastError()));
  task->release();
  return false;
}

bool UiDispatcher::postDefault(Runable* task) { return post(kDefaultOwnerKey, task); }

void UiDispatcher::cancel(OwnerKey owner) {
  if (owner == kDefaultOwnerKey) return;
  UiDispatcher& d = instance();
  std::lock_guard<std::mutex> lock(d.lock_);
  d.owners_[owner] = kCancelled;
}

UiDispatcher::TimerId UiDispatcher::setTimer(UINT intervalMs, Runable* task) {
  if (!task) return 0;
  UiDispatcher& d = instance();
  if (!isUiThread()) {
    VLOG(L"not on the UI thread");
    task->release();
    return 0;
  }
  TimerId id = ++d.lastTimerId_;
  if (!platform::uiLoop().setTimer(d.window_, id, intervalMs)) {
    task->release();
    return 0;
  }
  d.timers_[id] = task;
  return id;
}

bool UiDispatcher::killTimer(TimerId timerId) {
  UiDispatcher& d = instance();
  if (!isUiThread()) return false;
  auto it = d.timers_.find(timerId);
  if (it == d.timers_.end()) return false;
  Runable* task = it->second;
  d.timers_.erase(it);
  platform::uiLoop().killTimer(d.window_, timerId);
  if (timerId == d.runningTimer_) {
    d.runningTimerKilled_ = true;  // tick() releases it once run() returns
  } else {
    task->release();
  }
  return true;
}

LRESULT UiDispatcher::procedure(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kTaskMessage) {
    deliverTask(static_cast<OwnerKey>(wParam), reinterpret_cast<Runable*>(lParam));
  } else if (message == WM_TIMER) {
    tick(static_cast<TimerId>(wParam));
  }
  return 0;
}

void UiDispatcher::deliverTask(OwnerKey owner, Runable* task) {
  bool active = false;
  {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = owners_.find(owner);
    if (it != owners_.end() && it->second != kCancelled) {
      --it->second;
      active = true;
    }
  }
  if (active) task->run();  // outside the lock: it may post again
  task->release();
}

void UiDispatcher::tick(TimerId timerId) {
  auto it = timers_.find(timerId);
  if (it == timers_.end()) return;
  Runable* task = it->second;
  TimerId outer = runningTimer_;
  bool outerKilled = runningTimerKilled_;
  runningTimer_ = timerId;
  runningTimerKilled_ = false;
  task->run();
  bool killed = runningTimerKilled_;
  runningTimer_ = outer;
  runningTimerKilled_ = outerKilled;
  if (killed) task->release();
}
