// Disk, drive and desktop-shortcut helpers (helper::disk): which fixed drives
// exist, how much room each offers, whether a drive is solid-state, which one
// is the best home for the emulator, whether a typed folder is usable, a
// process snapshot, and desktop shortcuts. Space is in MiB (bytes / 1,048,576)
// of the bytes available to the calling user. No state is kept; each call
// asks the drives again, so these are not for tight loops.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/win_constants.h"

namespace helper::disk {

// Solid-state drives with more free MiB than this score 1000 times their
// free space, so that they win over every hard disk.
constexpr double kSsdPreferenceMiB = 17408;  // 17 GiB

// Roots ("C:\") of the fixed, not hot-pluggable drives, in letter order.
void getFixedDrives(std::vector<std::wstring>& drives);

// A removable or hot-pluggable (USB) drive. "C:" or "C:\"; false when the
// drive's device cannot be opened.
bool isHotplugDrive(const std::wstring& drive);

// A drive ("D:", letter and colon) whose device reports TRIM support.
bool isSSD(const std::wstring& drive);

// Free MiB of the drive, 0 when it cannot be measured or its file system is
// known and neither "NTFS" nor "FAT32"; 1000 times that for a solid-state
// drive above 17,408 MiB. `isSsd`: a usable drive that is solid-state.
double getDriveScore(const std::wstring& driveRoot, bool& isSsd);

// The fixed drive with the best score (ties to the earlier letter), empty
// when there is no fixed drive (then `isSsd` is left as it was).
std::wstring getMaxFreeSpaceDrive(bool& isSsd);

// Free MiB of the drive the path starts with. When the path is itself a
// drive root, a file system other than "NTFS"/"FAT32" gives 0; a deeper path
// is measured without that test.
double getFreeSpaceMB(const std::wstring& path);
// Free MiB of the drive the path starts with, without any file-system test.
double getDiskFreeMB(const std::wstring& path);

// For checks only: lower case, "\" separators, no doubled, leading or
// trailing separators.
std::wstring normalizePath(const std::wstring& path);
void trimSpaces(std::wstring& path);  // leading and trailing U+0020
// A folder the installer can use: an existing drive with free space, no
// forbidden character (/ : * ? " < > |) after the root, no empty component.
bool isValidPath(const std::wstring& path);

// Running processes by executable name (the first of a name stays); a
// failed snapshot is reported on standard output and leaves the map as it was.
void getProcessMap(std::map<std::wstring, DWORD>& processes);

// Writes the desktop shortcut "<name>.lnk" (replacing one of that name) to
// `target` with the working folder, the icon (index 0) and, when not empty,
// the arguments. Failures are logged; there is no result.
void createShortcut(const std::wstring& name, const std::wstring& iconFile,
                    const std::wstring& workingDir, const std::wstring& target,
                    const std::wstring& arguments);

}  // namespace helper::disk
