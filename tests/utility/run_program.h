// Runs a program of the build as a child process and waits for it.
#pragma once

#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace utility_tests {

// The program's exit code, or -1 when it could not run or did not exit.
// `environment` entries ("NAME=value") are added to this process's own.
inline int runProgram(const std::vector<std::string>& argv,
                      const std::vector<std::string>& environment = {}) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (const auto& e : environment) env.push_back(const_cast<char*>(e.c_str()));
  for (char** e = environ; *e; ++e) {
    bool replaced = false;
    for (const auto& added : environment) {
      std::string name = added.substr(0, added.find('=') + 1);
      replaced = replaced || std::string(*e).rfind(name, 0) == 0;
    }
    if (!replaced) env.push_back(*e);
  }
  env.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), env.data()) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

inline std::string binPath(const std::string& name) { return std::string(VIREO_BIN_DIR) + "/" + name; }

}  // namespace utility_tests
