#include "net/receive_watchdog.h"

namespace net {

ReceiveWatchdog::ReceiveWatchdog(GCancellable* cancellable, std::uint32_t timeoutMs)
    : cancellable_(G_CANCELLABLE(g_object_ref(cancellable))),
      timeout_(std::chrono::milliseconds(timeoutMs)),
      lastProgress_(Clock::now().time_since_epoch().count()),
      thread_(&ReceiveWatchdog::watch, this) {}

ReceiveWatchdog::~ReceiveWatchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stopped_.notify_all();
  thread_.join();
  g_object_unref(cancellable_);
}

void ReceiveWatchdog::progressed() {
  // One atomic store per read: cheap enough for reads at full speed.
  lastProgress_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
}

void ReceiveWatchdog::watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    const Clock::time_point last{Clock::duration(lastProgress_.load(std::memory_order_relaxed))};
    const Clock::time_point deadline = last + timeout_;
    if (Clock::now() >= deadline) break;
    if (stopped_.wait_until(lock, deadline, [this] { return stop_; })) return;
  }
  timedOut_.store(true);
  g_cancellable_cancel(cancellable_);
}

}  // namespace net
