#include "platform/clock.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

std::uint32_t tickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  return static_cast<std::uint32_t>(ms);
}

LocalTime localTime() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm parts;
  localtime_r(&ts.tv_sec, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
          parts.tm_min,         parts.tm_sec,     static_cast<int>(ts.tv_nsec / 1000000)};
}

std::int64_t unixSeconds() { return static_cast<std::int64_t>(time(nullptr)); }

void sleepMs(std::uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::uint32_t currentThreadId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(getpid()); }

}  // namespace platform
