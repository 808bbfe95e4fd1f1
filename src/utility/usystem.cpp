#include "utility/usystem.h"

#include <cstdio>
#include <cwchar>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/os_facts.h"
#include "platform/registry_store.h"
#include "platform/shell.h"
#include "utility/log.h"
#include "utility/ufile.h"
#include "utility/ustring.h"

namespace utility::usystem {
namespace {

constexpr int kWindows10 = 18;
constexpr int kWindows80 = 12;
constexpr int kWindows81 = 14;
constexpr int kWindows11 = 19;
constexpr unsigned long kFirstWindows11Build = 22000;

// RegQueryValueExW into 32 bytes: 15 characters and the terminator.
constexpr size_t kCurrentBuildUnits = 15;

// The shell-link reader's buffer for the local base path: 520 bytes, of which
// at most 516 are read.
constexpr size_t kLinkPathBytes = 520;
constexpr size_t kLinkPathMaxRead = 516;

constexpr std::uint32_t kShellLinkHeaderSize = 76;
constexpr std::uint32_t kHasLinkTargetIdList = 0x1;

struct OsName {
  const wchar_t* name;
  int code;
};

// Picks the row of the table for the reported version.
OsName nameForVersion(const OsVersionFacts& v) {
  if (v.major == 4) return {L"Microsoft windows XP Older", 1};
  if (v.major == 5) {
    if (v.minor == 0) return {L"Microsoft Windows 2000", 2};
    if (v.minor == 1) return {L"Microsoft Windows XP", 3};
    if (v.minor == 2) {
      if (v.workstation && v.amd64) return {L"Microsoft Windows XP Professional x64 Edition", 4};
      if (v.serverR2 == 0) return {L"Microsoft Windows Server 2003", 5};
      return {L"Microsoft Windows Server 2003 R2", 6};
    }
    return {L"", 0};
  }
  if (v.major == 6) {
    if (v.minor == 0) {
      return v.workstation ? OsName{L"Microsoft Windows Vista", 7}
                           : OsName{L"Microsoft Windows Server 2008", 8};
    }
    if (v.minor == 1) {
      return v.workstation ? OsName{L"Microsoft Windows 7", 10}
                           : OsName{L"Microsoft Windows Server 2008 R2", 9};
    }
    if (v.minor == 2) return {L"Microsoft Windows 10", kWindows10};
    return {L"", 0};
  }
  return {L"未知操作系统", 0};
}

// Tells apart the versions that all report 6.2, from the real version.
OsName refineReported62(const platform::WindowsVersion& real, OsName first) {
  if (real.major == 6 && real.minor == 3) return {L"Microsoft Windows 8.1", kWindows81};
  if (real.major == 6 && real.minor == 2) return {L"Microsoft Windows 8.0", kWindows80};
  if (real.major == 10) {
    std::wstring build = getCurrentBuild();
    if (!build.empty() && std::wcstoul(build.c_str(), nullptr, 10) >= kFirstWindows11Build) {
      return {L"Microsoft Windows 11", kWindows11};
    }
  }
  return first;
}

// Reads a little-endian number; false on a short read.
template <typename Number>
bool readNumber(platform::File& file, Number& out) {
  unsigned char bytes[sizeof(Number)];
  if (file.read(bytes, sizeof bytes) != sizeof bytes) return false;
  out = 0;
  for (size_t i = sizeof bytes; i-- > 0;) out = static_cast<Number>((out << 8) | bytes[i]);
  return true;
}

bool skip(platform::File& file, std::int64_t bytes) { return file.seek(bytes, SEEK_CUR); }

// Reads the local base path of a shell-link file. ERROR_SUCCESS with the
// bytes (empty when they did not fit), or ERROR_INVALID_PARAMETER.
long readLocalBasePath(platform::File& file, std::string& bytes) {
  constexpr long kNotFound = ERROR_INVALID_PARAMETER;
  std::uint32_t headerSize = 0, flags = 0;
  if (!readNumber(file, headerSize) || headerSize != kShellLinkHeaderSize) return kNotFound;
  if (!file.seek(20, SEEK_SET) || !readNumber(file, flags)) return kNotFound;
  if (!file.seek(kShellLinkHeaderSize, SEEK_SET)) return kNotFound;
  if (flags & kHasLinkTargetIdList) {
    std::uint16_t idListSize = 0;
    if (!readNumber(file, idListSize) || !skip(file, idListSize)) return kNotFound;
  }
  // Link-information size, header size, flags and volume-ID offset.
  std::uint32_t localBasePathOffset = 0;
  if (!skip(file, 16) || !readNumber(file, localBasePathOffset)) return kNotFound;
  // The offset counts from the start of the link information, 20 bytes back;
  // the distance is a signed 32-bit move, as SetFilePointer takes it.
  auto distance = static_cast<std::int32_t>(localBasePathOffset - 20u);
  if (!skip(file, distance)) return kNotFound;

  char buffer[kLinkPathBytes] = {};
  size_t count = 0;
  for (;;) {
    if (count == kLinkPathMaxRead) {
      VLOG_AS("utility::usystem::resolveShortcutFromFile",
              L"resolveShortcutFromFile buffer is too small");
      bytes.clear();
      return ERROR_SUCCESS;
    }
    char c = 0;
    if (file.read(&c, 1) != 1) return kNotFound;
    buffer[count++] = c;
    if (c == '\0') break;
  }
  bytes.assign(buffer, count - 1);
  return ERROR_SUCCESS;
}

}  // namespace

int osNameForVersion(const OsVersionFacts& facts, const platform::WindowsVersion& real,
                     std::wstring& name) {
  OsName found = nameForVersion(facts);
  if (found.code == kWindows10) found = refineReported62(real, found);
  name = found.name;
  return found.code;
}

int getOSName(std::wstring& name) {
  platform::WindowsVersion reported = platform::reportedWindowsVersion();
  OsVersionFacts facts;
  facts.major = reported.major;
  facts.minor = reported.minor;
  facts.workstation = true;  // this build runs on desktop systems only
  facts.amd64 = platform::is64BitWindows();
  facts.serverR2 = 0;
  return osNameForVersion(facts, platform::realWindowsVersion(), name);
}

bool isVistaOrLater() { return platform::reportedWindowsVersion().major > 5; }

bool isWindows11() {
  std::wstring name;
  return getOSName(name) == kWindows11;
}

bool is64BitOS() { return platform::is64BitWindows(); }

std::wstring createGuidString() {
  platform::Guid g;
  if (!platform::createGuid(g)) return {};
  wchar_t text[64] = {};
  std::swprintf(text, 64, L"%08X_%04X_%04x_%02X%02X_%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(g.data1), static_cast<unsigned>(g.data2),
                static_cast<unsigned>(g.data3), g.data4[0], g.data4[1], g.data4[2], g.data4[3],
                g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  text[63] = L'\0';
  return text;
}

MutexHandle createNamedMutex(const std::wstring& name, bool initialOwner, bool failIfExists) {
  // A named mutex here stands for its name's existence; nobody waits on one,
  // so initial ownership changes nothing.
  MutexHandle mutex = platform::NamedMutex::create(name);
  if (!mutex) return nullptr;
  bool existed = mutex->existedBefore();
  platform::setLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  if (existed && failIfExists) {
    mutex.reset();
    platform::setLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  return mutex;
}

int openUrl(const std::wstring& url) {
  if (platform::openUrl(url)) return 1;
  // The fallback starts "iexplore.exe", which this system does not have:
  // ShellExecuteW answers SE_ERR_FNF.
  constexpr int kShellFileNotFound = 2;
  return kShellFileNotFound;
}

bool enableShutdownPrivilege() { return platform::enableShutdownPrivilege(); }

bool rebootSystem() {
  // Always the NT platform here.
  enableShutdownPrivilege();
  bool accepted = platform::requestRestart();
  VLOG(L"reboot system requested, ret = %d", accepted ? 1 : 0);
  return accepted;
}

std::wstring getCurrentBuild() {
  std::wstring build;
  DWORD status = platform::registry::readValue(
      HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"CurrentBuild",
      build);
  if (status == ERROR_FILE_NOT_FOUND) {
    // Nothing on this system writes the value: the system's own build stands in.
    return std::to_wstring(platform::realWindowsVersion().build);
  }
  if (status != ERROR_SUCCESS || build.size() > kCurrentBuildUnits) return {};
  return std::wstring(build.c_str());
}

long resolveShortcutFromFile(const std::wstring& path, std::wstring& target) {
  std::wstring extension = ufile::getExtension(path);
  ustring::toLower(extension);
  if (path.size() < 5 || extension != L".lnk") return E_FAIL;
  // The Windows Installer's advertised shortcuts have no counterpart here:
  // every shortcut is read as a plain shell link.
  platform::File file;
  if (!file.open(path, false, platform::Disposition::OpenExisting)) return ERROR_INVALID_PARAMETER;
  std::string bytes;
  long status = readLocalBasePath(file, bytes);
  file.close();
  if (status == ERROR_SUCCESS) target = ustring::ansiToWide(bytes);
  return status;
}

}  // namespace utility::usystem
