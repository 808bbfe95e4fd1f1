#include "platform/event_loop.h"

#include <atomic>
#include <mutex>

#include "platform/event_loop_plain.h"

namespace platform {
namespace {

std::mutex installMutex;
std::atomic<EventLoop*> processLoop{nullptr};

}  // namespace

EventLoop& uiLoop() {
  if (EventLoop* loop = processLoop.load(std::memory_order_acquire)) return *loop;
  std::lock_guard<std::mutex> lock(installMutex);
  if (!processLoop.load()) {
    // Deliberately never deleted (see the header).
    processLoop.store(new PlainEventLoop(/*handleTerminationSignals=*/true),
                      std::memory_order_release);
  }
  return *processLoop.load();
}

bool installUiLoop(std::unique_ptr<EventLoop> loop) {
  std::lock_guard<std::mutex> lock(installMutex);
  if (processLoop.load() || !loop) return false;
  processLoop.store(loop.release(), std::memory_order_release);
  return true;
}

std::unique_ptr<EventLoop> makePlainEventLoop(bool handleTerminationSignals) {
  return std::make_unique<PlainEventLoop>(handleTerminationSignals);
}

}  // namespace platform
