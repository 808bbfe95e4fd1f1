// Time and thread facts: the 32-bit millisecond tick, local time, sleeping,
// the calling thread's identifier.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since boot, wrapping at 2^32 (GetTickCount).
std::uint32_t tickCount();

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalTime localTime();  // GetLocalTime

std::int64_t unixSeconds();  // seconds since 1970-01-01 UTC

void sleepMs(std::uint32_t ms);

// The kernel's identifier of the calling thread (GetCurrentThreadId).
std::uint32_t currentThreadId();
std::uint32_t currentProcessId();

}  // namespace platform
