#include "support/ui_loop.h"

#include <chrono>

#include "platform/event_loop.h"

namespace vireo::testing {

bool runLoopUntil(const std::function<bool()>& done, std::uint32_t limitMs) {
  if (done()) return true;
  platform::EventLoop& loop = platform::uiLoop();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  bool held = false;
  platform::WindowId watch = loop.createWindow([&](UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message != WM_TIMER) return 0;
    held = done();
    if (held || std::chrono::steady_clock::now() > deadline) loop.quit(0);
    return 0;
  });
  loop.setTimer(watch, 1, 10);
  loop.run();
  loop.destroyWindow(watch);
  return held;
}

}  // namespace vireo::testing
