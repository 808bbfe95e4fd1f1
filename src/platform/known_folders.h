// Well-known folders as Windows paths, without a trailing separator.
#pragma once

#include <string>

namespace platform {

// Roaming application data (CSIDL_APPDATA): the profile's "appData", else
// $XDG_CONFIG_HOME (~/.config). Under a profile without the key: C:\.config.
std::wstring appDataFolder();

// The desktop (CSIDL_DESKTOPDIRECTORY): the profile's "desktop", else the XDG
// desktop folder (~/Desktop). Under a profile without the key: C:\Desktop.
std::wstring desktopFolder();

// The Windows folder: the profile's "windowsDir", else a folder of the user's
// data folder that holds nothing but what the system puts there.
std::wstring windowsFolder();

// The running executable (GetModuleFileNameW with no module), full length.
std::wstring modulePath();

// The same as a host path.
std::string moduleHostPath();

}  // namespace platform
