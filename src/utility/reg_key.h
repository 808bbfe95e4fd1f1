// One open registry key (utility::RegKey), on narrow strings in the ANSI code
// page like the ANSI registry functions.
#pragma once

#include <string>

#include "platform/win_constants.h"

namespace utility {

class RegKey {
 public:
  ~RegKey() { close(); }

  long RegRegOpen(HKEY root, const std::string& subKey, DWORD access);
  long RegRead(const std::string& valueName, std::string& text);  // 1,024-byte buffer
  long RegWrite(const std::string& valueName, const std::string& text);
  long RegCreate(HKEY root, const std::string& subKey);
  void close();
  bool isOpen() const { return open_; }

 private:
  bool open_ = false;
  HKEY root_ = 0;
  std::wstring subKey_;
};

}  // namespace utility
