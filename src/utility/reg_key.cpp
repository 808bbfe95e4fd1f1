#include "utility/reg_key.h"

#include "platform/last_error.h"
#include "platform/registry_store.h"
#include "utility/log.h"
#include "utility/ustring.h"

namespace utility {
namespace {

// RegQueryValueExA reads into this many bytes; the value's ANSI form and its
// terminator must fit.
constexpr size_t kReadBufferBytes = 1024;

// The access RegCreateKeyExA asks for: KEY_READ, KEY_SET_VALUE, KEY_CREATE_SUB_KEY.
constexpr DWORD kCreateAccess = 0x2001F;

// The ANSI registry functions end a text at its first zero byte.
std::wstring ansiTextToWide(const std::string& text) {
  return ustring::ansiToWide(std::string(text.c_str()));
}

}  // namespace

long RegKey::RegRegOpen(HKEY root, const std::string& subKey, DWORD access) {
  close();
  std::wstring wideSubKey = ansiTextToWide(subKey);
  DWORD status = platform::registry::keyExists(root, wideSubKey);
  platform::setLastError(status);
  if (status != ERROR_SUCCESS) {
    VLOG(L"open reg = %ls, lastError = %d", wideSubKey.c_str(),
         static_cast<int>(platform::getLastError()));
    return static_cast<long>(status);
  }
  hold(root, wideSubKey, access);
  return ERROR_SUCCESS;
}

long RegKey::RegRead(const std::string& valueName, std::string& text) {
  if (!open_) {
    VLOG(L"m_hKey is null, query reg = %ls", ansiTextToWide(valueName).c_str());
    return -1;
  }
  DWORD status = ERROR_ACCESS_DENIED;
  std::string ansi;
  if (access_ & KEY_QUERY_VALUE) {
    std::wstring value;
    status = platform::registry::readValue(root_, subKey_, ansiTextToWide(valueName), value);
    if (status == ERROR_SUCCESS) {
      ansi = ustring::wideToAnsi(value);
      if (ansi.size() + 1 > kReadBufferBytes) status = ERROR_MORE_DATA;
    }
  }
  if (status != ERROR_SUCCESS) {
    VLOG(L"read reg lastError = %d", static_cast<int>(status));
    return static_cast<long>(status);
  }
  text = ansi.c_str();  // up to the first zero byte
  return ERROR_SUCCESS;
}

long RegKey::RegWrite(const std::string& valueName, const std::string& text) {
  if (!open_) {
    VLOG(L"m_hKey is null, query reg = %ls", ansiTextToWide(valueName).c_str());
    return -1;
  }
  DWORD status = ERROR_ACCESS_DENIED;
  if (access_ & KEY_SET_VALUE) {
    status = platform::registry::writeValue(root_, subKey_, ansiTextToWide(valueName),
                                            ansiTextToWide(text));
  }
  if (status != ERROR_SUCCESS) {
    VLOG(L"write reg 1 lastError = %d", static_cast<int>(status));
  }
  return static_cast<long>(status);
}

long RegKey::RegCreate(HKEY root, const std::string& subKey) {
  close();
  std::wstring wideSubKey = ansiTextToWide(subKey);
  DWORD status = platform::registry::createKey(root, wideSubKey);
  if (status != ERROR_SUCCESS) {
    VLOG(L"create reg  lastError = %d", static_cast<int>(status));
    return static_cast<long>(status);
  }
  hold(root, wideSubKey, kCreateAccess);
  return ERROR_SUCCESS;
}

void RegKey::close() {
  open_ = false;
  root_ = 0;
  subKey_.clear();
  access_ = 0;
}

void RegKey::hold(HKEY root, const std::wstring& subKey, DWORD access) {
  open_ = true;
  root_ = root;
  subKey_ = subKey;
  access_ = access;
}

}  // namespace utility
