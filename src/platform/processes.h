// Processes started from Windows command lines, waited for with time-outs,
// seen in snapshots by executable file name, and ended by name.
//
// Sandbox safety: under a machine profile, snapshots and ending by name see
// only processes whose executable lies under one of the profile's drive
// roots, so a test can never end a process it did not start.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win_constants.h"

namespace platform {

struct StartOptions {
  bool show = true;             // SW_SHOW or SW_HIDE, passed to the child
  bool asInvokingUser = false;  // without this program's elevated rights:
                                // when running as root through sudo or pkexec,
                                // the child runs as the invoking user
};

// A handle of a started process. Closing it never ends the process.
class Process {
 public:
  // Starts the program that the command line's first token names (a quoted
  // or plain Windows path, or a system program name such as "taskkill").
  // The child receives argv split by the Windows rules and can read the exact
  // text through platform::ownCommandLine. A program file without its execute
  // bit gets it for its owner first. Null on failure with the last error set
  // (ERROR_FILE_NOT_FOUND, ERROR_BAD_EXE_FORMAT, ERROR_ACCESS_DENIED, ...).
  static std::unique_ptr<Process> start(const std::wstring& commandLine,
                                        const StartOptions& options = {});

  std::uint32_t id() const { return pid_; }

  // WAIT_OBJECT_0 when it ended, WAIT_TIMEOUT, or WAIT_FAILED. INFINITE waits
  // without limit. Never busy-waits.
  DWORD wait(DWORD timeoutMs);

  // STILL_ACTIVE while running. A process ended by a signal reads as on
  // Windows: 1 when killed, 0xC0000005 for a crash, 3 for an abort.
  DWORD exitCode();

  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

 private:
  Process(int pid, int pidfd) : pid_(static_cast<std::uint32_t>(pid)), pidfd_(pidfd) {}
  bool reap(bool block);

  std::uint32_t pid_;
  int pidfd_;
  bool ended_ = false;
  DWORD exitCode_ = STILL_ACTIVE;
};

struct ProcessEntry {
  std::uint32_t pid;
  std::uint32_t parentPid;
  std::wstring exeName;  // file name of the executable, e.g. L"varedori.exe"
  std::string hostPath;  // the executable on the host (empty when unreadable)
};

// Running processes in ascending id order (the Toolhelp snapshot's order).
// False when /proc cannot be read (the last error says why).
bool snapshotProcesses(std::vector<ProcessEntry>& out);

// Ends (SIGKILL) every visible process with that executable file name
// (compared without regard to case, as taskkill /IM does), and with `tree`
// also their visible descendants; the tree is frozen first so that nobody
// escapes by starting a child meanwhile. Returns the ids ended, after they
// have ended (within 2 s). This process itself is never ended.
std::vector<std::uint32_t> endProcessesByName(const std::wstring& exeName, bool tree);

// The same for any selection of visible processes; `force` false sends a
// polite request (SIGTERM) instead and does not wait. Returns what was
// signalled, the selected processes first, then descendants.
std::vector<ProcessEntry> endMatchingProcesses(
    const std::function<bool(const ProcessEntry&)>& matches, bool tree, bool force);

}  // namespace platform
