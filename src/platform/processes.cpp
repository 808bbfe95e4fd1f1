#include "platform/processes.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/child_spawn.h"
#include "platform/code_pages.h"
#include "platform/command_line.h"
#include "platform/drives.h"
#include "platform/last_error.h"
#include "platform/system_programs.h"

namespace platform {
namespace {

constexpr DWORD kAccessViolation = 0xC0000005u;
constexpr DWORD kIllegalInstruction = 0xC000001Du;
constexpr DWORD kDivideByZero = 0xC0000094u;
constexpr DWORD kControlC = 0xC000013Au;
constexpr DWORD kAbortExitCode = 3;      // what abort() leaves on Windows
constexpr DWORD kTerminatedExitCode = 1;  // what taskkill /F leaves

constexpr const char* kShowWindowVariable = "VIREO_SHOW_WINDOW";

DWORD exitCodeOf(const siginfo_t& info) {
  if (info.si_code == CLD_EXITED) return static_cast<DWORD>(info.si_status);
  switch (info.si_status) {
    case SIGSEGV:
    case SIGBUS: return kAccessViolation;
    case SIGILL: return kIllegalInstruction;
    case SIGFPE: return kDivideByZero;
    case SIGABRT: return kAbortExitCode;
    case SIGINT: return kControlC;
    default: return kTerminatedExitCode;
  }
}

// Exec errors in the words CreateProcess would use.
DWORD startErrorFromErrno(int e) {
  switch (e) {
    case ENOEXEC:
    case ELIBBAD:
    case EINVAL: return ERROR_BAD_EXE_FORMAT;
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case E2BIG: return ERROR_FILENAME_EXCED_RANGE;
    default: return windowsErrorFromErrno(e);
  }
}

bool hasExtension(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// The host file a program token names; CreateProcess adds ".exe" to a name
// without extension when the plain name is not found.
DWORD locateProgram(const std::wstring& token, std::string& program) {
  program = hostPath(token);
  if (program.empty()) return ERROR_PATH_NOT_FOUND;
  struct stat st;
  if (stat(program.c_str(), &st) != 0 && !hasExtension(program)) {
    std::string withExe = program + ".exe";
    if (stat(withExe.c_str(), &st) == 0) program = withExe;
  }
  if (stat(program.c_str(), &st) != 0) return windowsErrorFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
  // Any program file starts on Windows; here its owner needs the execute bit.
  if (!(st.st_mode & S_IXUSR)) chmod(program.c_str(), (st.st_mode & 07777) | S_IXUSR);
  return ERROR_SUCCESS;
}

std::unique_ptr<Process> failStart(DWORD code) {
  setLastError(code);
  return nullptr;
}

}  // namespace

std::unique_ptr<Process> Process::start(const std::wstring& commandLine,
                                        const StartOptions& options) {
  if (commandLine.find(L'\0') != std::wstring::npos) return failStart(ERROR_INVALID_PARAMETER);
  std::vector<std::wstring> words = splitCommandLine(commandLine);
  if (words.empty() || words[0].empty()) return failStart(ERROR_FILE_NOT_FOUND);

  SpawnRequest request;
  std::vector<std::string> additions = {
      std::string(kCommandLineVariable) + "=" + wideToUtf8(commandLine),
      std::string(kShowWindowVariable) + "=" + (options.show ? "5" : "0")};
  std::string systemProgram = systemProgramName(words[0]);
  if (!systemProgram.empty()) {
    // This executable plays the system program (see system_programs.h).
    request.program = "/proc/self/exe";
    request.arguments.push_back(systemProgram);
    additions.push_back(std::string(kSystemProgramVariable) + "=" + systemProgram);
  } else {
    if (DWORD e = locateProgram(words[0], request.program)) return failStart(e);
    request.arguments.push_back(request.program);
  }
  for (size_t i = 1; i < words.size(); ++i) request.arguments.push_back(wideToUtf8(words[i]));
  request.environment = environmentWith(
      {kCommandLineVariable, kShowWindowVariable, kSystemProgramVariable}, additions);
  request.asInvokingUser = options.asInvokingUser;

  SpawnResult spawned = spawnChild(request);
  if (spawned.pid < 0) return failStart(startErrorFromErrno(spawned.error));
  setLastError(ERROR_SUCCESS);
  return std::unique_ptr<Process>(new Process(spawned.pid, spawned.pidfd));
}

bool Process::reap(bool block) {
  if (ended_) return true;
  siginfo_t info = {};
  int flags = WEXITED | (block ? 0 : WNOHANG);
  int r;
  do {
    r = waitid(P_PID, static_cast<id_t>(pid_), &info, flags);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    // Reaped by someone else (SIGCHLD ignored): ended, its code unknown.
    if (errno == ECHILD) {
      ended_ = true;
      exitCode_ = kTerminatedExitCode;
    }
    return ended_;
  }
  if (info.si_pid == 0) return false;  // still running
  ended_ = true;
  exitCode_ = exitCodeOf(info);
  return true;
}

DWORD Process::wait(DWORD timeoutMs) {
  using Clock = std::chrono::steady_clock;
  if (ended_) return WAIT_OBJECT_0;
  bool forever = timeoutMs == INFINITE;
  auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  for (;;) {
    long long left = forever ? -1
                             : std::chrono::duration_cast<std::chrono::milliseconds>(
                                   deadline - Clock::now()).count();
    if (!forever && left < 0) left = 0;
    int slice = left < 0 || left > 1000000 ? (forever ? -1 : 1000000) : static_cast<int>(left);
    if (pidfd_ >= 0) {
      pollfd p = {pidfd_, POLLIN, 0};
      int r = poll(&p, 1, slice);
      if (r < 0 && errno != EINTR) {
        setLastErrorFromErrno();
        return WAIT_FAILED;
      }
      if (r > 0 && reap(true)) return WAIT_OBJECT_0;
    } else {
      // No process descriptors: look every 10 ms.
      if (reap(false)) return WAIT_OBJECT_0;
      if (slice != 0) usleep(static_cast<useconds_t>(slice < 0 || slice > 10 ? 10000 : slice * 1000));
      if (reap(false)) return WAIT_OBJECT_0;
    }
    if (!forever && Clock::now() >= deadline) return WAIT_TIMEOUT;
  }
}

DWORD Process::exitCode() {
  reap(false);
  return ended_ ? exitCode_ : STILL_ACTIVE;
}

Process::~Process() {
  if (ended_ || reap(false)) {
    if (pidfd_ >= 0) ::close(pidfd_);
    return;
  }
  reapInBackground(static_cast<int>(pid_), pidfd_);
}

}  // namespace platform
