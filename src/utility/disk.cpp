#include "utility/disk.h"

#include <cstdint>
#include <cstdio>
#include <cwctype>

#include "platform/drives.h"
#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/last_error.h"
#include "platform/processes.h"
#include "platform/shell_link.h"
#include "utility/log.h"
#include "utility/ustring.h"

namespace helper::disk {
namespace {

constexpr double kBytesPerMiB = 1048576.0;
constexpr const wchar_t* kForbiddenInPath = L"/:*?\"<>|";

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The drive letter of a text that starts with a letter and a colon.
bool driveLetterOf(const std::wstring& text, wchar_t& letter) {
  if (text.size() < 2 || text[1] != L':' || !std::iswalpha(text[0])) return false;
  letter = text[0];
  return true;
}

// CreateFileW on "\\.\X:": the device of a drive opens when the drive is
// there (its root folder exists and can be read).
bool openDevice(const std::wstring& letterAndColon, platform::VolumeFacts& facts) {
  wchar_t letter = 0;
  if (letterAndColon.size() != 2 || !driveLetterOf(letterAndColon, letter)) return false;
  facts = platform::volumeFacts(letter);
  return facts.present;
}

// GetDiskFreeSpaceExW: the bytes available to the user on the volume that
// holds an existing folder given with its drive letter.
bool diskFreeBytes(const std::wstring& folder, std::uint64_t& freeBytes) {
  wchar_t letter = 0;
  if (!driveLetterOf(folder, letter)) return false;
  platform::VolumeFacts facts = platform::volumeFacts(letter);
  if (!facts.present || !facts.readable || !platform::isDirectory(folder)) return false;
  freeBytes = facts.freeBytes;
  return true;
}

// GetVolumeInformationW, file-system name only. It takes a drive root
// ("D:\"), nothing deeper.
bool volumeFileSystem(const std::wstring& root, std::wstring& fileSystem) {
  wchar_t letter = 0;
  if (root.size() != 3 || !isSeparator(root[2]) || !driveLetterOf(root, letter)) return false;
  platform::VolumeFacts facts = platform::volumeFacts(letter);
  if (!facts.present || facts.fileSystem.empty()) return false;
  fileSystem = facts.fileSystem;
  return true;
}

// A file system the emulator can live on; an unknown one counts as usable.
bool fileSystemIsUsable(const std::wstring& root) {
  std::wstring fileSystem;
  if (!volumeFileSystem(root, fileSystem)) return true;
  return fileSystem == L"FAT32" || fileSystem == L"NTFS";
}

double toMiB(std::uint64_t bytes) { return static_cast<double>(bytes) / kBytesPerMiB; }

void replaceAllRepeatedly(std::wstring& text, const std::wstring& from, const std::wstring& to) {
  for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from)) {
    text.replace(at, from.size(), to);
  }
}

// Every component in front of a backslash must hold more than spaces.
bool componentsAreNamed(const std::wstring& rest) {
  size_t start = 0;
  for (size_t slash = rest.find(L'\\'); slash != std::wstring::npos;
       slash = rest.find(L'\\', start)) {
    if (utility::ustring::trim(rest.substr(start, slash - start)).empty()) return false;
    start = slash + 1;
  }
  return true;
}

// The link's file name on the desktop: characters that cannot be part of a
// Windows file name (a separator among them would place the link outside
// the desktop) become "_".
std::wstring shortcutFileName(const std::wstring& name) {
  std::wstring out = name;
  for (auto& c : out) {
    if (c < 0x20 || c == L'\\' || std::wstring(kForbiddenInPath).find(c) != std::wstring::npos) {
      c = L'_';
    }
  }
  return out;
}

}  // namespace

void getFixedDrives(std::vector<std::wstring>& drives) {
  for (const auto& drive : platform::drives()) {
    std::wstring root = {drive.letter, L':', L'\\'};
    if (platform::volumeFacts(drive.letter).fixed && !isHotplugDrive(root)) drives.push_back(root);
  }
}

bool isHotplugDrive(const std::wstring& drive) {
  platform::VolumeFacts facts;
  if (!openDevice(drive.substr(0, 2), facts)) return false;
  if (!facts.hotplug) {
    platform::setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

bool isSSD(const std::wstring& drive) {
  platform::VolumeFacts facts;
  if (!openDevice(drive, facts)) return false;
  if (facts.solidState) {
    VLOG(L"It is suport trim");
    return true;
  }
  VLOG(L"It is not suport trim");
  return false;
}

double getDriveScore(const std::wstring& driveRoot, bool& isSsd) {
  isSsd = false;
  std::uint64_t freeBytes = 0;
  if (!diskFreeBytes(driveRoot.substr(0, 3), freeBytes)) return 0;
  if (!fileSystemIsUsable(driveRoot)) return 0;
  double score = toMiB(freeBytes);
  isSsd = isSSD(driveRoot.substr(0, 2));
  if (isSsd && static_cast<std::int64_t>(score) > static_cast<std::int64_t>(kSsdPreferenceMiB)) {
    score *= 1000;
  }
  return score;
}

std::wstring getMaxFreeSpaceDrive(bool& isSsd) {
  std::vector<std::wstring> drives;
  getFixedDrives(drives);
  double best = -1.0;
  std::wstring result;
  for (const auto& drive : drives) {
    bool driveIsSsd = false;
    double score = getDriveScore(drive, driveIsSsd);
    if (score > best) {
      best = score;
      result = drive;
      isSsd = driveIsSsd;
    }
  }
  return result;
}

double getFreeSpaceMB(const std::wstring& path) {
  std::uint64_t freeBytes = 0;
  if (!diskFreeBytes(path.substr(0, 3), freeBytes)) return 0;
  // Only a drive root has volume information; a deeper path skips the test.
  if (!fileSystemIsUsable(path)) return 0;
  return toMiB(freeBytes);
}

double getDiskFreeMB(const std::wstring& path) {
  std::uint64_t freeBytes = 0;
  if (!diskFreeBytes(path.substr(0, 3), freeBytes)) return 0;
  return toMiB(freeBytes);
}

std::wstring normalizePath(const std::wstring& path) {
  std::wstring out = path;
  for (auto& c : out) c = static_cast<wchar_t>(std::towlower(c));
  replaceAllRepeatedly(out, L"/", L"\\");
  replaceAllRepeatedly(out, L"\\\\", L"\\");
  size_t first = out.find_first_not_of(L'\\');
  if (first == std::wstring::npos) return {};
  size_t last = out.find_last_not_of(L'\\');
  return out.substr(first, last - first + 1);
}

void trimSpaces(std::wstring& path) { path = utility::ustring::trim(path); }

bool isValidPath(const std::wstring& path) {
  std::wstring normal = normalizePath(path);
  trimSpaces(normal);
  // Normalising took the separator off a bare root ("d:\" -> "d:"); a bare
  // root is a valid folder, so it is checked as the root it names.
  wchar_t letter = 0;
  if (normal.size() == 2 && driveLetterOf(normal, letter)) normal += L'\\';
  if (normal.size() < 3) return false;
  std::uint64_t freeBytes = 0;
  if (!diskFreeBytes(normal.substr(0, 3), freeBytes) || freeBytes == 0) return false;
  std::wstring rest = normal.substr(3);
  trimSpaces(rest);
  if (rest.find_first_of(kForbiddenInPath) != std::wstring::npos) return false;
  return componentsAreNamed(rest);
}

void getProcessMap(std::map<std::wstring, DWORD>& processes) {
  std::vector<platform::ProcessEntry> snapshot;
  if (!platform::snapshotProcesses(snapshot)) {
    std::printf("CreateToolhelp32Snapshot (of processes)\n");
    return;
  }
  if (snapshot.empty()) {
    std::printf("Process32First\n");
    return;
  }
  for (const auto& entry : snapshot) processes.emplace(entry.exeName, entry.pid);
}

void createShortcut(const std::wstring& name, const std::wstring& iconFile,
                    const std::wstring& workingDir, const std::wstring& target,
                    const std::wstring& arguments) {
  std::wstring desktop = platform::desktopFolder();
  if (desktop.empty()) {
    VLOG(L"install 1 of create shortcut failed!");
    return;
  }
  if (platform::hostPath(desktop).empty()) {
    VLOG(L"install 2 of create shortcut failed!");
    return;
  }
  platform::ShellLink link;
  link.workingDir = workingDir;
  link.target = target;
  if (!arguments.empty()) link.arguments = arguments;
  link.iconPath = iconFile;
  link.iconIndex = 0;
  std::wstring linkPath = desktop + L"\\" + shortcutFileName(name) + L".lnk";
  if (!platform::writeShellLink(linkPath, link)) {
    VLOG(L"save shortcut %ls failed! lastError = %d", linkPath.c_str(),
         static_cast<int>(platform::getLastError()));
  }
}

}  // namespace helper::disk
