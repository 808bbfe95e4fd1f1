#include "platform/drives.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cwctype>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/code_pages.h"
#include "platform/invoking_user.h"
#include "platform/machine_profile.h"

namespace platform {
namespace {

constexpr wchar_t kPseudoDrive = L'Z';

const std::set<std::string>& localDiskFileSystems() {
  static const std::set<std::string> names = {"ext2", "ext3", "ext4", "xfs",   "btrfs", "f2fs",
                                              "jfs",  "ntfs", "ntfs3", "fuseblk", "vfat", "exfat",
                                              "reiserfs", "zfs"};
  return names;
}

// Under sudo or pkexec, the invoking user's home (invoking_user.h).
std::string homeFolder() { return userHomeFolder(); }

std::string withoutTrailingSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// Decodes the octal escapes (\040 for a space ...) of /proc/self/mountinfo.
std::string unescapeMountField(const std::string& s) {
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && octal(s[i + 1]) && octal(s[i + 2]) &&
        octal(s[i + 3])) {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += s[i];
  }
  return out;
}

struct Mount {
  std::string point;
  std::string type;
  std::string source;  // the mounted device ("/dev/sda2") or a pseudo name
  dev_t device;        // as the mount table gives it (anonymous for btrfs)
};

std::vector<Mount> readMounts() {
  std::vector<Mount> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor, root, point;
    fields >> id >> parent >> majorMinor >> root >> point;
    auto dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    tail >> type >> source;
    unsigned maj = 0, min = 0;
    if (std::sscanf(majorMinor.c_str(), "%u:%u", &maj, &min) != 2) continue;
    mounts.push_back(
        {unescapeMountField(point), type, unescapeMountField(source), makedev(maj, min)});
  }
  return mounts;
}

// The /sys/dev/block entry of a device, resolved to its real folder.
std::string sysBlockFolder(dev_t device) {
  std::string link = "/sys/dev/block/" + std::to_string(major(device)) + ":" +
                     std::to_string(minor(device));
  char resolved[PATH_MAX];
  if (!realpath(link.c_str(), resolved)) return {};
  return resolved;
}

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::string s;
  std::getline(in, s);
  return s;
}

// The whole-disk folder of a partition folder (its parent when it has a
// "partition" attribute).
std::string diskFolder(const std::string& blockFolder) {
  if (blockFolder.empty()) return {};
  struct stat st;
  if (stat((blockFolder + "/partition").c_str(), &st) == 0) {
    return blockFolder.substr(0, blockFolder.rfind('/'));
  }
  return blockFolder;
}

bool hasSysBlockEntry(dev_t device) { return !sysBlockFolder(device).empty(); }

// The block device behind a mount. File systems such as btrfs report an
// anonymous device number; then the mounted device node names the real one.
dev_t backingDevice(const Mount& mount) {
  if (hasSysBlockEntry(mount.device)) return mount.device;
  struct stat st;
  if (!mount.source.empty() && mount.source[0] == '/' && stat(mount.source.c_str(), &st) == 0 &&
      S_ISBLK(st.st_mode)) {
    return st.st_rdev;
  }
  return mount.device;
}

// The folders of the devices a stacked device (device mapper, RAID) is built on.
std::vector<std::string> slaveFolders(const std::string& disk) {
  std::vector<std::string> out;
  DIR* dir = opendir((disk + "/slaves").c_str());
  if (!dir) return out;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    char resolved[PATH_MAX];
    if (realpath((disk + "/slaves/" + name).c_str(), resolved)) out.push_back(resolved);
  }
  closedir(dir);
  return out;
}

// Removable or on USB: the device itself, or any device it is built on.
bool blockFolderIsHotplug(const std::string& block, int depth) {
  if (block.empty() || depth > 8) return false;
  if (block.find("/usb") != std::string::npos) return true;
  std::string disk = diskFolder(block);
  if (readSmallFile(disk + "/removable") == "1") return true;
  for (const auto& slave : slaveFolders(disk)) {
    if (blockFolderIsHotplug(slave, depth + 1)) return true;
  }
  return false;
}

bool deviceIsHotplug(dev_t device) { return blockFolderIsHotplug(sysBlockFolder(device), 0); }

// Solid state, in the sense the installer asks: the device accepts discard
// (TRIM) requests.
bool deviceSupportsTrim(dev_t device) {
  std::string disk = diskFolder(sysBlockFolder(device));
  if (disk.empty()) return false;
  std::string maxDiscard = readSmallFile(disk + "/queue/discard_max_bytes");
  return !maxDiscard.empty() && maxDiscard != "0";
}

std::wstring windowsFileSystemName(const std::string& type) {
  static const std::set<std::string> nativeDisk = {"ext2", "ext3", "ext4", "xfs", "btrfs", "f2fs",
                                                   "jfs", "ntfs", "ntfs3", "fuseblk", "reiserfs",
                                                   "zfs"};
  if (nativeDisk.count(type)) return L"NTFS";
  if (type == "vfat" || type == "msdos") return L"FAT32";
  if (type == "exfat") return L"exFAT";
  std::wstring upper = utf8ToWide(type);
  for (auto& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  return upper;
}

// The mount that holds a host path: the one with the longest matching point.
const Mount* mountOf(const std::vector<Mount>& mounts, const std::string& path) {
  const Mount* best = nullptr;
  for (const auto& m : mounts) {
    bool under = m.point == "/" || path == m.point || path.rfind(m.point + "/", 0) == 0;
    if (under && (!best || m.point.size() >= best->point.size())) best = &m;
  }
  return best;
}

std::vector<Drive> realDrives() {
  std::vector<Drive> table;
  std::string home = withoutTrailingSlash(homeFolder());
  table.push_back({L'C', home});
  struct stat homeStat;
  dev_t homeDevice = stat(home.c_str(), &homeStat) == 0 ? homeStat.st_dev : 0;
  std::vector<Mount> mounts = readMounts();
  std::sort(mounts.begin(), mounts.end(),
            [](const Mount& a, const Mount& b) { return a.point < b.point; });
  std::set<dev_t> seen = {homeDevice};
  wchar_t next = L'D';
  for (const auto& m : mounts) {
    if (next >= kPseudoDrive) break;
    if (!localDiskFileSystems().count(m.type) || seen.count(m.device)) continue;
    if (!userCanWrite(m.point) || deviceIsHotplug(backingDevice(m))) continue;
    seen.insert(m.device);
    table.push_back({next++, m.point});
  }
  return table;
}

std::vector<Drive> profileDrives(const std::vector<DriveSpec>& specs) {
  std::vector<Drive> table;
  for (const auto& s : specs) table.push_back({s.letter, s.root});
  std::sort(table.begin(), table.end(),
            [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
  return table;
}

std::mutex tableMutex;
std::vector<Drive>* table = nullptr;

const std::vector<Drive>& currentTable() {
  std::lock_guard<std::mutex> lock(tableMutex);
  if (!table) {
    const auto& p = machineProfile();
    table = new std::vector<Drive>(p.drives ? profileDrives(*p.drives) : realDrives());
  }
  return *table;
}

const DriveSpec* profileSpec(wchar_t letter) {
  const auto& p = machineProfile();
  if (!p.drives) return nullptr;
  for (const auto& d : *p.drives) {
    if (d.letter == letter) return &d;
  }
  return nullptr;
}

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Splits the part after the drive into components, resolving "." and "..".
std::vector<std::wstring> components(const std::wstring& rest) {
  std::vector<std::wstring> parts;
  std::wstring current;
  auto flush = [&] {
    if (current == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!current.empty() && current != L".") {
      parts.push_back(current);
    }
    current.clear();
  };
  for (wchar_t c : rest) {
    if (isSeparator(c)) flush();
    else current += c;
  }
  flush();
  return parts;
}

std::string currentFolder() {
  char cwd[PATH_MAX];
  return getcwd(cwd, sizeof cwd) ? cwd : "/";
}

}  // namespace

const std::vector<Drive>& drives() { return currentTable(); }

const Drive* findDrive(wchar_t letter) {
  letter = static_cast<wchar_t>(std::towupper(letter));
  for (const auto& d : drives()) {
    if (d.letter == letter) return &d;
  }
  return nullptr;
}

void resetDriveTable() {
  std::lock_guard<std::mutex> lock(tableMutex);
  delete table;
  table = nullptr;
}

std::string hostPath(const std::wstring& windowsPathIn) {
  std::wstring path = windowsPathIn;
  // A NUL would cut the host path short behind the checks made here.
  if (path.find(L'\0') != std::wstring::npos) return {};
  if (path.rfind(L"\\\\?\\", 0) == 0) path = path.substr(4);
  // Network (UNC) paths name no drive.
  if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) return {};
  bool hasDrive = path.size() >= 2 && path[1] == L':' && std::iswalpha(path[0]);
  if (!hasDrive) {
    if (path.empty()) return {};
    if (isSeparator(path[0])) {
      // Rooted on the current drive.
      std::wstring here = windowsPath(currentFolder());
      path = here.substr(0, 2) + path;
    } else {
      path = windowsPath(currentFolder()) + L"\\" + path;
    }
  }
  wchar_t letter = static_cast<wchar_t>(std::towupper(path[0]));
  std::string root;
  if (const Drive* d = findDrive(letter)) {
    root = d->root;
  } else if (letter == kPseudoDrive) {
    root = "/";
  } else {
    return {};
  }
  std::string out = root == "/" ? "" : root;
  for (const auto& part : components(path.substr(2))) {
    out += '/';
    out += wideToUtf8(part);
  }
  if (out.empty()) out = "/";
  return out;
}

std::wstring windowsPath(const std::string& hostPathIn) {
  std::string path = hostPathIn;
  if (path.empty() || path[0] != '/') path = currentFolder() + "/" + path;
  const Drive* best = nullptr;
  for (const auto& d : drives()) {
    bool under = d.root == "/" || path == d.root || path.rfind(d.root + "/", 0) == 0;
    if (under && (!best || d.root.size() > best->root.size())) best = &d;
  }
  wchar_t letter = best ? best->letter : kPseudoDrive;
  std::string rest = best ? (best->root == "/" ? path : path.substr(best->root.size())) : path;
  std::wstring out;
  out += letter;
  out += L":";
  for (const auto& part : components(utf8ToWide(rest))) out += L"\\" + part;
  if (out.size() == 2) out += L"\\";
  return out;
}

namespace {

// The root folder must be there and readable for the drive to answer at all;
// otherwise the drive behaves as one without media.
bool rootIsUsable(const std::string& root) {
  struct stat st;
  return stat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         access(root.c_str(), R_OK | X_OK) == 0;
}

void measureHost(const std::string& root, VolumeFacts& facts) {
  struct statvfs vfs;
  if (statvfs(root.c_str(), &vfs) == 0) {
    facts.readable = true;
    facts.freeBytes = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  }
  auto mounts = readMounts();
  const Mount* m = mountOf(mounts, root);
  if (!m) return;
  facts.fileSystem = windowsFileSystemName(m->type);
  dev_t device = backingDevice(*m);
  facts.solidState = deviceSupportsTrim(device);
  facts.hotplug = deviceIsHotplug(device);
}

void applyProfile(const DriveSpec& spec, VolumeFacts& facts) {
  if (spec.freeMiB) {
    facts.readable = true;
    double bytes = *spec.freeMiB * 1048576.0;
    facts.freeBytes = bytes >= 1.8e19 ? UINT64_MAX : static_cast<std::uint64_t>(bytes);
  }
  if (spec.fs) facts.fileSystem = utf8ToWide(*spec.fs);
  if (spec.ssd) facts.solidState = *spec.ssd;
  if (spec.hotplug) facts.hotplug = *spec.hotplug;
}

}  // namespace

VolumeFacts volumeFacts(wchar_t letter) {
  VolumeFacts facts;
  const Drive* drive = findDrive(letter);
  if (!drive) {
    facts.fixed = false;  // GetDriveType: no root folder
    return facts;
  }
  const DriveSpec* spec = profileSpec(drive->letter);
  if (spec && spec->fixed) facts.fixed = *spec->fixed;
  if (!rootIsUsable(drive->root)) return facts;
  facts.present = true;
  measureHost(drive->root, facts);
  if (spec) applyProfile(*spec, facts);
  return facts;
}

}  // namespace platform
