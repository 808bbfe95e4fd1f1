// Shell-link (.lnk) files in the Windows format [MS-SHLLINK], so that the
// shortcut reader finds what the shortcut writer made.
#pragma once

#include <string>

namespace platform {

struct ShellLink {
  std::wstring target;      // Windows path of the program
  std::wstring arguments;   // empty: none stored
  std::wstring workingDir;  // empty: none stored
  std::wstring iconPath;    // empty: none stored
  int iconIndex = 0;
};

// Writes the link file (replacing one of the same name): the header, a link
// information block whose local base path is the target in the ANSI code
// page (and in Unicode), and the string data. True when it was written.
// A link in the desktop folder also gets a freedesktop launcher beside it
// ("<name>.desktop", see desktop_entry.h).
bool writeShellLink(const std::wstring& linkPath, const ShellLink& link);

}  // namespace platform
