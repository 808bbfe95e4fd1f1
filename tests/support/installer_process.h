// Runs copies of the real installer in a sandbox, the way a Windows parent
// would start them: a file name of the test's choosing (the name carries the
// launch parameters) and an exact command-line text.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace vireo::testing {

struct LogLine {
  std::string function, message;
  bool operator==(const LogLine&) const = default;
};
std::ostream& operator<<(std::ostream& out, const LogLine& line);

// Every line's function and message (the text after the "(line):" header).
std::vector<LogLine> parseLog(const std::string& text);

// The lines of one function, in order.
std::vector<std::string> messagesOf(const std::vector<LogLine>& lines, const std::string& function);

class InstallerProcess {
 public:
  // Places a copy of bin/vireo-installer at C:\<relativePath> of the sandbox
  // (a hard link when it can). `environment` adds NAME=VALUE entries.
  InstallerProcess(const Sandbox& box, const std::string& relativePath,
                   std::vector<std::string> environment = {});
  ~InstallerProcess();  // ends the process if it still runs (it is ours)
  InstallerProcess(const InstallerProcess&) = delete;
  InstallerProcess& operator=(const InstallerProcess&) = delete;

  // Starts it with the text after the program name. False when it could
  // not be started.
  bool start(const std::wstring& arguments = L"");
  // The exit code; -2 when it did not end within the limit (it is then killed).
  int wait(std::chrono::milliseconds limit = std::chrono::seconds(60));
  void terminate();  // SIGTERM, as a logout does
  pid_t pid() const { return pid_; }

  std::string logPath() const;
  std::vector<LogLine> log() const;
  // Waits until the log holds a line whose message contains `needle`.
  bool waitForLog(const std::string& needle,
                  std::chrono::milliseconds limit = std::chrono::seconds(30)) const;

  const std::string& hostPath() const { return host_; }

 private:
  const Sandbox& box_;
  std::string relative_;
  std::string host_;
  std::vector<std::string> environment_;
  pid_t pid_ = -1;
  int exitCode_ = -1;
};

}  // namespace vireo::testing
