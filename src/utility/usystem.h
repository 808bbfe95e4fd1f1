// Operating-system helpers (utility::usystem).
#pragma once

#include <memory>
#include <string>

#include "platform/named_mutex.h"
#include "platform/win_constants.h"

namespace utility::usystem {

using MutexHandle = std::unique_ptr<platform::NamedMutex>;  // empty: none

int getOSName(std::wstring& name);
bool isVistaOrLater();
bool isWindows11();
bool is64BitOS();
std::wstring createGuidString();  // 36 characters, see the format in the source
MutexHandle createNamedMutex(const std::wstring& name, bool initialOwner, bool failIfExists);
int openUrl(const std::wstring& url);
bool enableShutdownPrivilege();
bool rebootSystem();
std::wstring getCurrentBuild();
// 0 on success, E_FAIL for a path that is not a shortcut, 87 when the target
// cannot be found.
long resolveShortcutFromFile(const std::wstring& path, std::wstring& target);

}  // namespace utility::usystem
