// Process descriptors through the system calls themselves: glibc 2.36's
// <sys/pidfd.h> declares its wrappers without C linkage, so C++ cannot link
// them. Internal to the platform layer.
#pragma once

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

inline int openPidfd(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

inline int signalPidfd(int pidfd, int sig) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

}  // namespace platform
