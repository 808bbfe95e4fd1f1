// SIGTERM and SIGINT turned into a request that an event loop can wait for:
// the handler only sets a flag and writes to an eventfd (both safe inside a
// signal handler); the loop watching that descriptor ends as on quit.
#pragma once

namespace platform::detail {

// Installs the handlers (once per process) and returns the descriptor that
// becomes readable when a termination signal arrived; -1 when the eventfd
// cannot be made (the signals then keep their default action).
int terminationSignalFd();

// True when a termination signal arrived since the last call; consumes it.
bool takeTerminationRequest();

// Empties the descriptor after poll reported it readable; the request itself
// stays for takeTerminationRequest.
void drainTerminationSignalFd();

}  // namespace platform::detail
