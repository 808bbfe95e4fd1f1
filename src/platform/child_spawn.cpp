#include "platform/child_spawn.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "platform/invoking_user.h"
#include "platform/pidfd.h"

extern char** environ;

namespace platform {
namespace {

// Whom the child runs as: unchanged, or the user who ran this program
// through sudo or pkexec (looked up before fork: user look-ups are not
// async-signal-safe).
struct Credentials {
  bool change = false;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::string name, home;
};

Credentials invokingUserCredentials() {
  Credentials c;
  std::optional<InvokingUser> user = invokingUser();
  if (!user) return c;
  c.change = true;
  c.uid = user->uid;
  c.gid = user->gid;
  c.groups = user->groups;
  c.name = user->name;
  c.home = user->home;
  return c;
}

bool isPipeOrSocket(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

std::vector<std::string> withUserEnvironment(std::vector<std::string> env, const Credentials& c) {
  if (!c.change || c.name.empty()) return env;
  auto replace = [&env](const std::string& name, const std::string& value) {
    for (auto& e : env) {
      if (e.rfind(name + "=", 0) == 0) {
        e = name + "=" + value;
        return;
      }
    }
    env.push_back(name + "=" + value);
  };
  replace("HOME", c.home);
  replace("USER", c.name);
  replace("LOGNAME", c.name);
  return env;
}

[[noreturn]] void failInChild(int reportFd) {
  int e = errno;
  ssize_t ignored = ::write(reportFd, &e, sizeof e);
  (void)ignored;
  _exit(127);
}

// Everything between fork and exec: async-signal-safe calls only.
[[noreturn]] void runChild(const char* program, char* const* argv, char* const* envp,
                           const Credentials& user, const gid_t* groups, bool nullOutput,
                           bool nullError, int reportFd, int maxFd) {
  sigset_t all;
  sigemptyset(&all);
  sigprocmask(SIG_SETMASK, &all, nullptr);
  struct sigaction standard = {};
  standard.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s) {
    if (s != SIGKILL && s != SIGSTOP) sigaction(s, &standard, nullptr);
  }
  setsid();

  int null = ::open("/dev/null", O_RDWR);
  if (null < 0) failInChild(reportFd);
  if (dup2(null, 0) < 0) failInChild(reportFd);
  if (nullOutput && dup2(null, 1) < 0) failInChild(reportFd);
  if (nullError && dup2(null, 2) < 0) failInChild(reportFd);
  if (null > 2) ::close(null);

  if (user.change) {
    if (setgroups(user.groups.size(), groups) != 0) failInChild(reportFd);
    if (setgid(user.gid) != 0) failInChild(reportFd);
    if (setuid(user.uid) != 0) failInChild(reportFd);
  }

  // Nothing of this process but the standard three survives the exec.
  if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    for (int fd = 3; fd < maxFd; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  execve(program, argv, envp);
  failInChild(reportFd);
}

int readReport(int fd) {
  int e = 0;
  for (;;) {
    ssize_t n = ::read(fd, &e, sizeof e);
    if (n < 0 && errno == EINTR) continue;
    return n == static_cast<ssize_t>(sizeof e) ? e : 0;
  }
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (auto& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

SpawnResult spawnChild(const SpawnRequest& request) {
  SpawnResult result;
  Credentials user = request.asInvokingUser ? invokingUserCredentials() : Credentials{};
  std::vector<std::string> arguments = request.arguments;
  std::vector<std::string> environment = withUserEnvironment(request.environment, user);
  std::vector<char*> argv = pointers(arguments);
  std::vector<char*> envp = pointers(environment);
  bool nullOutput = isPipeOrSocket(1), nullError = isPipeOrSocket(2);
  long openMax = sysconf(_SC_OPEN_MAX);
  int maxFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    result.error = errno;
    return result;
  }
  pid_t pid = fork();
  if (pid < 0) {
    result.error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return result;
  }
  if (pid == 0) {
    ::close(report[0]);
    runChild(request.program.c_str(), argv.data(), envp.data(), user, user.groups.data(),
             nullOutput, nullError, report[1], maxFd);
  }
  ::close(report[1]);
  int childError = readReport(report[0]);
  ::close(report[0]);
  if (childError != 0) {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.error = childError;
    return result;
  }
  result.pid = pid;
  result.pidfd = openPidfd(pid);
  if (result.pidfd >= 0) fcntl(result.pidfd, F_SETFD, FD_CLOEXEC);
  return result;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& removed,
                                         const std::vector<std::string>& additions) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    bool drop = false;
    for (const auto& name : removed) drop = drop || entry.rfind(name + "=", 0) == 0;
    if (!drop) env.push_back(entry);
  }
  env.insert(env.end(), additions.begin(), additions.end());
  return env;
}

void reapInBackground(int pid, int pidfd) {
  try {
    std::thread([pid, pidfd] {
      siginfo_t info;
      while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED) != 0 && errno == EINTR) {
      }
      if (pidfd >= 0) ::close(pidfd);
    }).detach();
  } catch (...) {
    // No thread to spare: the child stays a zombie until this process ends.
    if (pidfd >= 0) ::close(pidfd);
  }
}

}  // namespace platform
