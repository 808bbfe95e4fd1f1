#include "stop_flag.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace standin {
namespace {
std::atomic<bool> stopping{false};
constexpr std::chrono::milliseconds kSlice{10};
}  // namespace

void requestStop() { stopping.store(true); }

bool stopRequested() { return stopping.load(); }

bool sleepUnlessStopped(std::chrono::milliseconds duration) {
  const auto until = std::chrono::steady_clock::now() + duration;
  while (!stopRequested()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kSlice, until - now));
  }
  return false;
}

}  // namespace standin
