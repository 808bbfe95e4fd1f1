// Shared steps of the stand-in tests: a sandbox profile for this process and
// its children, the installer's IPC window in this process, stand-in
// programs copied into the sandbox, and their record lines.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/installer_contract.h"
#include "platform/drives.h"
#include "platform/event_loop.h"
#include "platform/machine_profile.h"
#include "platform/processes.h"
#include "support/sandbox.h"
#include "support/ui_loop.h"
#include "utility/window_ipc.h"

namespace vireo::testing {

inline std::string binFile(const std::string& name) { return std::string(VIREO_BIN_DIR) + "/" + name; }
inline std::string releaseInstaller(const std::string& name) { return binFile("standin-release/" + name); }


// An environment variable set for the children started while it lives.
class EnvironmentScope {
 public:
  EnvironmentScope(const char* name, const std::string& value) : name_(name) {
    setenv(name, value.c_str(), 1);
  }
  ~EnvironmentScope() { unsetenv(name_); }
  EnvironmentScope(const EnvironmentScope&) = delete;
  EnvironmentScope& operator=(const EnvironmentScope&) = delete;

 private:
  const char* name_;
};

struct Posted {
  UINT message;
  WPARAM wParam;
};

// The installer's IPC window ("{2266E930-...}") in this test process.
class InstallerWindow : public utility::IWindowIPCHandle {
 public:
  InstallerWindow() { created_ = ipc_.create(contract::kIpcClassName, this); }
  bool created() const { return created_; }

  int onHandleWindowIPC(unsigned int message, WPARAM wParam, LPARAM) override {
    received_.push_back({message, wParam});
    return 0;
  }

  // Runs the UI loop until `done` holds (checked every 20 ms) or the time is
  // up; the messages received so far.
  const std::vector<Posted>& runUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    vireo::testing::runLoopUntil(done, static_cast<std::uint32_t>(timeoutMs));
    return received_;
  }

  bool hasOutcome() const {
    for (const Posted& p : received_) {
      if (p.message == contract::kMsgInstallSucceeded || p.message == contract::kMsgInstallError) return true;
    }
    return false;
  }

  const std::vector<Posted>& received() const { return received_; }

 private:
  utility::WindowIPC ipc_;
  bool created_ = false;
  std::vector<Posted> received_;
};

// Copies a built program into the sandbox under another name.
inline void installProgram(const std::string& from, const std::string& toHost) {
  std::filesystem::create_directories(std::filesystem::path(toHost).parent_path());
  std::filesystem::copy_file(from, toHost, std::filesystem::copy_options::overwrite_existing);
  chmod(toHost.c_str(), 0755);
}

inline bool waitForFile(const std::string& path, int timeoutMs = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!hostFileExists(path) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return hostFileExists(path);
}

// The JSON record lines of a file, parsed.
inline std::vector<std::unique_ptr<rapidjson::Document>> recordLines(const std::string& path) {
  std::vector<std::unique_ptr<rapidjson::Document>> lines;
  std::istringstream text(readHostFile(path));
  std::string line;
  while (std::getline(text, line)) {
    auto document = std::make_unique<rapidjson::Document>();
    document->Parse(line.c_str(), line.size());
    EXPECT_FALSE(document->HasParseError()) << line;
    if (!document->HasParseError()) lines.push_back(std::move(document));
  }
  return lines;
}

inline std::string textOf(const rapidjson::Document& line, const char* key) {
  return line.HasMember(key) && line[key].IsString() ? line[key].GetString() : "<missing>";
}

inline long long numberOf(const rapidjson::Document& line, const char* key) {
  return line.HasMember(key) && line[key].IsInt64() ? line[key].GetInt64() : -999999;
}

// Starts a program and waits for its end; its exit code, or STILL_ACTIVE.
inline DWORD runToEnd(const std::wstring& commandLine, DWORD timeoutMs = 20000, bool show = false) {
  platform::StartOptions options;
  options.show = show;
  auto process = platform::Process::start(commandLine, options);
  if (!process) return 0xFFFFFFFFu;
  process->wait(timeoutMs);
  return process->exitCode();
}

}  // namespace vireo::testing
