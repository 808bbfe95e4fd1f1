// The receive time-out of one request: a thread of its own that cancels the
// request's GCancellable when nothing has progressed for the time-out (the
// wait for the answer, then every read). Blocking GIO calls return at once
// when their cancellable is cancelled.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace net {

class ReceiveWatchdog {
 public:
  ReceiveWatchdog(GCancellable* cancellable, std::uint32_t timeoutMs);
  ~ReceiveWatchdog();  // stops the thread
  ReceiveWatchdog(const ReceiveWatchdog&) = delete;
  ReceiveWatchdog& operator=(const ReceiveWatchdog&) = delete;

  // Something arrived: the time-out starts again.
  void progressed();
  // Whether the time-out fired (and cancelled the request).
  bool timedOut() const { return timedOut_.load(); }

 private:
  using Clock = std::chrono::steady_clock;
  void watch();

  GCancellable* cancellable_;
  const Clock::duration timeout_;
  std::atomic<Clock::rep> lastProgress_;
  std::atomic<bool> timedOut_{false};
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace net
