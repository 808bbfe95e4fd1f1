// Collects the lines that the code under test logs, in memory.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "utility/log.h"

namespace vireo::testing {

class LogCapture {
 public:
  LogCapture() {
    lines().clear();
    common::setLogHandler(&LogCapture::handle);
  }
  ~LogCapture() { common::setLogHandler(nullptr); }

  // (function, message) in the order logged.
  static std::vector<std::pair<std::string, std::wstring>>& lines() {
    static std::vector<std::pair<std::string, std::wstring>> captured;
    return captured;
  }

  static bool has(const std::string& function, const std::wstring& messagePrefix) {
    for (const auto& [f, m] : lines()) {
      if (f == function && m.rfind(messagePrefix, 0) == 0) return true;
    }
    return false;
  }

 private:
  static void handle(const char* function, int, const wchar_t* text) {
    lines().emplace_back(function, text);
  }
};

}  // namespace vireo::testing
