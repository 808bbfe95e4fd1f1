// Collects what the code under test logs, in memory, instead of a log file.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "utility/log.h"

namespace utility_tests {

struct LoggedLine {
  std::string function;
  std::wstring message;
};

class LogCapture {
 public:
  LogCapture() {
    std::lock_guard<std::mutex> lock(mutex());
    store().clear();
    common::setLogHandler(&LogCapture::handle);
  }
  ~LogCapture() { common::setLogHandler(nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LoggedLine> lines() const {
    std::lock_guard<std::mutex> lock(mutex());
    return store();
  }

  // Messages logged under `function`, in order.
  std::vector<std::wstring> messages(const std::string& function) const {
    std::vector<std::wstring> out;
    for (const auto& line : lines()) {
      if (line.function == function) out.push_back(line.message);
    }
    return out;
  }

  bool has(const std::string& function, const std::wstring& message) const {
    for (const auto& m : messages(function)) {
      if (m == message) return true;
    }
    return false;
  }

  void clear() {
    std::lock_guard<std::mutex> lock(mutex());
    store().clear();
  }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<LoggedLine>& store() {
    static std::vector<LoggedLine> captured;
    return captured;
  }
  static void handle(const char* function, int, const wchar_t* text) {
    std::lock_guard<std::mutex> lock(mutex());
    store().push_back({function, text});
  }
};

}  // namespace utility_tests
