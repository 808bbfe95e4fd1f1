// Starting a child program on the host: fork and exec with only
// async-signal-safe calls in between, exec errors reported back through a
// close-on-exec pipe, and children reaped even when nobody waits for them.
// Used by Process::start and the shell; not a public interface.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct SpawnRequest {
  std::string program;                   // host path, executed as is (no PATH search, no shell)
  std::vector<std::string> arguments;    // argv, argv[0] included
  std::vector<std::string> environment;  // "NAME=value" entries
  bool asInvokingUser = false;           // drop root to the sudo/pkexec user, when there is one
};

struct SpawnResult {
  int pid = -1;
  int pidfd = -1;  // -1 when the kernel offers no process descriptors
  int error = 0;   // errno of the failed step (fork, credentials or exec)
};

// The child runs in its own session, with default signal handling, standard
// input from /dev/null, standard output and error inherited unless they are
// pipes or sockets (a reader waiting for their end would wait for the child),
// and no other descriptor of this process.
SpawnResult spawnChild(const SpawnRequest& request);

// This process's environment without the named variables, plus `additions`.
std::vector<std::string> environmentWith(const std::vector<std::string>& removed,
                                         const std::vector<std::string>& additions);

// Waits for the child on a background thread so that it never stays a
// zombie; takes ownership of pidfd.
void reapInBackground(int pid, int pidfd);

}  // namespace platform
