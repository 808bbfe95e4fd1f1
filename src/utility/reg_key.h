// One open registry key (utility::RegKey), on narrow strings in the ANSI code
// page like the ANSI registry functions.
#pragma once

#include <string>

#include "platform/win_constants.h"

namespace utility {

// Results are Windows status codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ...),
// or -1 when no key is open. The access mask is kept as a handle keeps it:
// reading needs KEY_QUERY_VALUE and writing KEY_SET_VALUE (else
// ERROR_ACCESS_DENIED). This build has one registry view, so KEY_WOW64_64KEY
// changes nothing.
class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() { close(); }

  long RegRegOpen(HKEY root, const std::string& subKey, DWORD access);
  // A value whose ANSI form and terminator do not fit 1,024 bytes gives
  // ERROR_MORE_DATA; the text is the value up to its first zero byte.
  long RegRead(const std::string& valueName, std::string& text);
  long RegWrite(const std::string& valueName, const std::string& text);
  long RegCreate(HKEY root, const std::string& subKey);  // opens it with 0x2001F
  void close();
  bool isOpen() const { return open_; }

 private:
  void hold(HKEY root, const std::wstring& subKey, DWORD access);

  bool open_ = false;
  HKEY root_ = 0;
  std::wstring subKey_;
  DWORD access_ = 0;
};

}  // namespace utility
