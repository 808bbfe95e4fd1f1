// The registry: HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE keys holding string
// values, stored as human-readable files under one folder that every program
// of the product family on the machine shares (the profile's "registry",
// else $XDG_CONFIG_HOME/vireo/registry/). Key and value names compare
// without regard to case. A write is atomic (a crash never leaves half a
// value) and safe when several processes write at once.
//
// Results are Windows status codes: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (key
// or value missing), ERROR_INVALID_PARAMETER (bad root or name),
// ERROR_MORE_DATA (value longer than the caller's buffer), or the file error.
#pragma once

#include <string>
#include <vector>

#include "platform/win_constants.h"

namespace platform::registry {

// The host folder of the store in force.
std::string storeFolder();

DWORD keyExists(HKEY root, const std::wstring& subKey);
DWORD createKey(HKEY root, const std::wstring& subKey);  // every missing level

DWORD readValue(HKEY root, const std::wstring& subKey, const std::wstring& name,
                std::wstring& value);
DWORD writeValue(HKEY root, const std::wstring& subKey, const std::wstring& name,
                 const std::wstring& value);  // the key must exist
DWORD deleteValue(HKEY root, const std::wstring& subKey, const std::wstring& name);

// Names of the values of a key, in the case of their first writing.
DWORD listValues(HKEY root, const std::wstring& subKey, std::vector<std::wstring>& names);

}  // namespace platform::registry
