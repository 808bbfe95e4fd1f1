// Operating-system helpers (utility::usystem).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/named_mutex.h"
#include "platform/os_facts.h"
#include "platform/win_constants.h"

namespace utility::usystem {

using MutexHandle = std::unique_ptr<platform::NamedMutex>;  // empty: none

// The operating system's name and code (18 Windows 10, 19 Windows 11, ...).
int getOSName(std::wstring& name);

// What getOSName decides on: the version GetVersionExW reports, the product
// type, the processor and SM_SERVERR2. The profile has no product type, so
// getOSName always passes a workstation; tests reach the server rows here.
struct OsVersionFacts {
  std::uint32_t major = 0, minor = 0;
  bool workstation = true;
  bool amd64 = false;
  int serverR2 = 0;
};
// `real` is the version the refinement of a reported 6.2 reads.
int osNameForVersion(const OsVersionFacts& facts, const platform::WindowsVersion& real,
                     std::wstring& name);

bool isVistaOrLater();
bool isWindows11();
bool is64BitOS();
std::wstring createGuidString();  // 36 characters, see the format in the source
MutexHandle createNamedMutex(const std::wstring& name, bool initialOwner, bool failIfExists);
int openUrl(const std::wstring& url);
bool enableShutdownPrivilege();
bool rebootSystem();
// HKLM "SOFTWARE\Microsoft\Windows NT\CurrentVersion" "CurrentBuild"; when
// the value is absent, the real build of the system (platform::os_facts).
std::wstring getCurrentBuild();
// 0 on success, E_FAIL for a path that is not a shortcut, 87 when the target
// cannot be found.
long resolveShortcutFromFile(const std::wstring& path, std::wstring& target);

}  // namespace utility::usystem
