// Test helper: a child process started from argv with extra environment,
// whose standard output is read line by line with a time limit.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vireo::testing {

class ChildProcess {
 public:
  // `environment` entries ("NAME=value") replace or add to the test's own.
  ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment = {}) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      bool replaced = false;
      for (const auto& extra : environment) {
        replaced |= entry.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0;
      }
      if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    readFd_ = out[0];
  }
  ~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (readFd_ >= 0) close(readFd_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // The next line of standard output (without the newline), or nothing when
  // the time ran out or the output ended.
  std::optional<std::string> readLine(int timeoutMs = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      auto newline = buffer_.find('\n');
      if (newline != std::string::npos) {
        std::string line = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return std::nullopt;
      pollfd p{readFd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char chunk[4096];
      ssize_t got = read(readFd_, chunk, sizeof chunk);
      if (got <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<size_t>(got));
    }
  }

  void signal(int number) { kill(pid_, number); }

  // The exit code, -(signal) when killed by one, or nothing on time-out.
  std::optional<int> wait(int timeoutMs = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!reaped_) {
      int status = 0;
      pid_t got = waitpid(pid_, &status, WNOHANG);
      if (got == pid_) {
        reaped_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int readFd_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  std::string buffer_;
};

// Runs a program to its end and returns its exit code (-1 on time-out).
inline int runToEnd(std::vector<std::string> argv, std::vector<std::string> environment = {}) {
  ChildProcess child(std::move(argv), std::move(environment));
  auto code = child.wait(20000);
  return code ? *code : -1;
}

inline std::string binPath(const std::string& program) { return std::string(VIREO_BIN_DIR) + "/" + program; }

}  // namespace vireo::testing
