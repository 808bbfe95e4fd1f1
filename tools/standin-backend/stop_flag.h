// The process-wide "we are ending" flag. Handlers that wait (stalls,
// throttling) sleep through it so that the server can end promptly.
#pragma once

#include <chrono>

namespace standin {

void requestStop();
bool stopRequested();

// Sleeps for `duration` in short slices; returns false when a stop was
// requested before the time was up.
bool sleepUnlessStopped(std::chrono::milliseconds duration);

}  // namespace standin
