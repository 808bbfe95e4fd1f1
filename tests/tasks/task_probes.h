// Test helpers: tasks that count their runs and releases, and ways to run the
// process's UI loop until it has nothing left, or for a while, with a safety
// limit so that a broken test fails instead of hanging.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/tasks/runable.h"
#include "app/tasks/ui_dispatcher.h"
#include "platform/event_loop.h"

namespace vireo::testing {

struct ProbeCounts {
  std::atomic<int> runs{0};
  std::atomic<int> releases{0};
};

// Counts into shared counts, which outlive the task; runs an optional body.
class ProbeTask final : public Runable {
 public:
  explicit ProbeTask(std::shared_ptr<ProbeCounts> counts, std::function<void()> body = {})
      : counts_(std::move(counts)), body_(std::move(body)) {}
  void run() override {
    counts_->runs++;
    if (body_) body_();
  }
  void release() override {
    counts_->releases++;
    delete this;
  }

 private:
  std::shared_ptr<ProbeCounts> counts_;
  std::function<void()> body_;
};

inline Runable* probe(const std::shared_ptr<ProbeCounts>& counts, std::function<void()> body = {}) {
  return new ProbeTask(counts, std::move(body));
}

// Runs the UI loop with a limit; returns false when the limit ended it.
inline bool runLoopWithLimit(std::uint32_t limitMs) {
  auto& loop = platform::uiLoop();
  bool limitReached = false;
  platform::WindowId guard = loop.createWindow([&](UINT message, WPARAM, LPARAM) {
    if (message == WM_TIMER) {
      limitReached = true;
      loop.quit(0);
    }
    return LRESULT{0};
  });
  loop.setTimer(guard, 1, limitMs);
  loop.run();
  loop.destroyWindow(guard);
  return !limitReached;
}

// Everything the calling (UI) thread posted so far runs (posting order), then
// the loop returns.
inline bool runPostedTasks(std::uint32_t limitMs = 5000) {
  UiDispatcher::postDefault(new FunctionRunable([] { platform::postQuitMessage(0); }));
  return runLoopWithLimit(limitMs);
}

// Runs the loop for about `ms`.
inline void runLoopFor(std::uint32_t ms) { runLoopWithLimit(ms); }

}  // namespace vireo::testing
