// The drive table: each drive letter stands for a host folder, as Wine's
// drive letters do. Paths inside the system are Windows paths
// ("D:\tallis\Vireo9\"); this is the one place that turns them into host
// paths and back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct Drive {
  wchar_t letter;    // upper case
  std::string root;  // host folder, without trailing slash ("/" for the host root)
};

// Drives in letter order. Without a profile: C: is the user's home folder and
// every other local disk file system the user can write to gets the next
// letter, in mount-point order.
const std::vector<Drive>& drives();
const Drive* findDrive(wchar_t letter);

// "D:\a\b" (either separator, any case of the letter, "." and ".." resolved
// without climbing above the root) -> host path. Relative paths are taken
// from the current folder. Empty when the path names no known drive.
std::string hostPath(const std::wstring& windowsPath);

// Host path -> Windows path on the drive whose root holds it. A path outside
// every drive is shown on the pseudo-drive Z:, which is the host root (as in
// Wine) and is never listed as a drive.
std::wstring windowsPath(const std::string& hostPath);

// Volume facts of a drive, in Windows words: what GetDiskFreeSpaceEx,
// GetVolumeInformation, GetDriveType and the storage queries of the drive's
// device answer. The profile's facts of a drive replace the measured ones
// key by key. A drive whose root folder is missing or unreadable is like a
// drive without media: not present, nothing readable, no file system, and
// neither solid-state nor hot-plug (its device does not open).
struct VolumeFacts {
  bool present = false;       // the root folder is there and readable (the device opens)
  bool readable = false;      // free space could be measured
  std::uint64_t freeBytes = 0;  // available to the user
  std::wstring fileSystem;    // "NTFS", "FAT32", "exFAT", the host name upper-cased; empty: unknown
  bool solidState = false;    // the backing device supports TRIM
  bool hotplug = false;       // removable or on USB
  bool fixed = true;          // a fixed disk (GetDriveType says DRIVE_FIXED); false for no drive
};
VolumeFacts volumeFacts(wchar_t letter);

// Rebuilds the table (tests that install another profile).
void resetDriveTable();

}  // namespace platform
