// A freedesktop launcher (.desktop file) beside a shell link on the desktop,
// so that Linux desktops show the shortcut the installer made.
#pragma once

#include <string>

#include "platform/shell_link.h"

namespace platform {

// The launcher's text for a link named `name` (the link file's name without
// ".lnk"). Empty when the target names no drive of this machine.
std::string desktopEntryText(const std::wstring& name, const ShellLink& link);

// Writes "<name>.desktop" beside the link file at `linkPath` (atomically,
// executable for its owner). True when it was written.
bool writeDesktopEntry(const std::wstring& linkPath, const ShellLink& link);

// True when the link file lies directly in the desktop folder.
bool isOnDesktop(const std::wstring& linkPath);

}  // namespace platform
