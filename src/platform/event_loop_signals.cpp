#include "platform/event_loop_signals.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

namespace platform::detail {
namespace {

std::atomic<bool> terminationRequested{false};
std::atomic<int> signalFd{-1};

// The flag is the request; the descriptor only wakes a sleeping loop, which
// drains it and then reads the flag. Hence the flag is set before the write.
void onTerminationSignal(int) {
  int savedErrno = errno;
  terminationRequested.store(true);
  int fd = signalFd.load();
  if (fd >= 0) {
    std::uint64_t one = 1;
    ssize_t ignored = write(fd, &one, sizeof one);
    (void)ignored;
  }
  errno = savedErrno;
}

void installHandlers() {
  int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return;
  signalFd.store(fd);
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: a second signal of the same kind takes the default action,
  // so a teardown that hangs can still be interrupted.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int terminationSignalFd() {
  static std::once_flag once;
  std::call_once(once, installHandlers);
  return signalFd.load();
}

bool takeTerminationRequest() { return terminationRequested.exchange(false); }

void drainTerminationSignalFd() {
  int fd = signalFd.load();
  if (fd < 0) return;
  std::uint64_t count;
  ssize_t ignored = read(fd, &count, sizeof count);
  (void)ignored;
}

}  // namespace platform::detail
