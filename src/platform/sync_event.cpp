#include "platform/sync_event.h"

#include <chrono>

namespace platform {

SyncEvent::SyncEvent(Reset mode, bool signalled) : mode_(mode), signalled_(signalled) {}

void SyncEvent::set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  if (mode_ == Reset::Auto) {
    changed_.notify_one();
  } else {
    changed_.notify_all();
  }
}

void SyncEvent::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

DWORD SyncEvent::wait(DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto isSignalled = [this] { return signalled_; };
  if (timeoutMs == INFINITE) {
    changed_.wait(lock, isSignalled);
  } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSignalled)) {
    return WAIT_TIMEOUT;
  }
  if (mode_ == Reset::Auto) signalled_ = false;
  return WAIT_OBJECT_0;
}

}  // namespace platform
