// The plain UI loop: one mutex-guarded queue of posted messages with one
// eventfd wake-up per batch, timers on the monotonic clock, and poll() over
// the wake-up, the termination signals and the watched descriptors. It sleeps
// in poll whenever nothing is due.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/event_loop.h"

namespace platform {

class PlainEventLoop final : public EventLoop {
 public:
  explicit PlainEventLoop(bool handleTerminationSignals);
  ~PlainEventLoop() override;

  WindowId createWindow(WindowProcedure procedure) override;
  void destroyWindow(WindowId window) override;
  bool postMessage(WindowId window, UINT message, WPARAM wParam, LPARAM lParam) override;
  bool setTimer(WindowId window, TimerId id, UINT intervalMs) override;
  bool killTimer(WindowId window, TimerId id) override;
  WatchId watchReadable(int fd, std::function<void()> onReadable) override;
  void unwatch(WatchId watch) override;
  void quit(int code) override;
  int run() override;
  bool isLoopThread() const override;

 private:
  struct Posted {
    WindowId window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  struct Timer {
    WindowId window;
    TimerId id;
    std::uint64_t intervalNs;
    std::uint64_t dueNs;
    std::uint64_t serial;  // changes when the timer is set again
  };
  struct Watch {
    int fd;
    std::shared_ptr<std::function<void()>> callback;
  };

  void wake();
  void drainWake();
  bool quitPending();
  void deliverPosted();
  void fireDueTimers();
  void waitForWork();
  void deliver(WindowId window, UINT message, WPARAM wParam, LPARAM lParam);
  int pollTimeoutMs();

  mutable std::mutex mutex_;
  std::deque<Posted> queue_;
  bool wakePending_ = false;
  std::unordered_map<WindowId, std::shared_ptr<WindowProcedure>> windows_;
  WindowId lastWindow_ = 0;
  std::vector<Timer> timers_;
  std::uint64_t lastTimerSerial_ = 0;
  std::map<WatchId, Watch> watches_;
  WatchId lastWatch_ = 0;
  bool quitRequested_ = false;
  int quitCode_ = 0;

  int wakeFd_ = -1;
  int signalFd_ = -1;
  std::atomic<bool> running_{false};
  std::atomic<std::uint32_t> loopThread_;
};

}  // namespace platform
