// Helpers of the platform tests: the probe child program, a sandbox profile
// made the profile of this test process (and of the children it starts), and
// bounded waits for files that children write.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/drives.h"
#include "platform/machine_profile.h"
#include "support/sandbox.h"

namespace vireo::testing {

inline std::string probeHostPath() { return std::string(VIREO_BIN_DIR) + "/platform-probe"; }

// A Windows command line that starts the probe where it was built (outside
// every sandbox drive) with the given arguments text. File arguments of the
// probe are host paths.
inline std::wstring probeCommand(const std::wstring& arguments) {
  return L"\"" + platform::windowsPath(probeHostPath()) + L"\" " + arguments;
}


// Copies the probe to a host path (inside a sandbox drive, so that process
// snapshots under the sandbox can see it).
inline void copyProbeTo(const std::string& hostPath) {
  std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
  std::filesystem::copy_file(probeHostPath(), hostPath,
                             std::filesystem::copy_options::overwrite_existing);
  chmod(hostPath.c_str(), 0755);
}

// Waits up to timeoutMs for a file to appear; true when it did.
inline bool waitForFile(const std::string& path, int timeoutMs = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (hostFileExists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return hostFileExists(path);
}

// Whether a process id still names a live (non-zombie) process.
inline bool processAlive(unsigned pid) {
  std::string stat = readHostFile("/proc/" + std::to_string(pid) + "/stat");
  if (stat.empty()) return false;
  size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// Runs a shell command line; returns the exit code (or 128 + signal).
inline int runShell(const std::string& command) {
  int status = std::system(command.c_str());
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace vireo::testing
