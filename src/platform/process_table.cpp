#include "platform/process_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/code_pages.h"
#include "platform/last_error.h"
#include "platform/machine_profile.h"

namespace platform {
namespace {

bool readSmall(const std::string& path, std::string& out, size_t limit) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[4096];
  while (out.size() < limit) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

std::string baseName(const std::string& path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// /proc/PID/stat: "pid (comm) state ppid ... starttime ...". The command
// name may hold spaces and parentheses, so fields are counted from the last
// ')'.
bool parseStat(const std::string& stat, char& state, std::uint32_t& parent,
               std::uint64_t& startTime, std::string& comm) {
  size_t open = stat.find('(');
  size_t close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  comm = stat.substr(open + 1, close - open - 1);
  std::vector<std::string> fields;
  size_t i = close + 1;
  while (i < stat.size() && fields.size() < 20) {
    while (i < stat.size() && stat[i] == ' ') ++i;
    size_t end = stat.find(' ', i);
    if (end == std::string::npos) end = stat.size();
    if (end > i) fields.push_back(stat.substr(i, end - i));
    i = end;
  }
  if (fields.size() < 20 || fields[0].empty()) return false;
  state = fields[0][0];
  parent = static_cast<std::uint32_t>(std::strtoul(fields[1].c_str(), nullptr, 10));
  startTime = std::strtoull(fields[19].c_str(), nullptr, 10);
  return true;
}

std::string executableOf(std::uint32_t pid) {
  char buffer[PATH_MAX];
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<size_t>(n));
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() &&
      path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
    path.resize(path.size() - deleted.size());
  }
  return path;
}

// The first element of the command line, for processes whose executable
// link cannot be read (another user's, as a normal user).
std::string firstArgument(std::uint32_t pid) {
  std::string cmdline;
  readSmall("/proc/" + std::to_string(pid) + "/cmdline", cmdline, 8192);
  return cmdline.substr(0, cmdline.find('\0'));
}

bool underFolder(const std::string& path, const std::string& folder) {
  if (folder.empty()) return false;
  if (folder == "/") return true;
  return path == folder || path.rfind(folder + "/", 0) == 0;
}

std::vector<std::string> sandboxRoots() {
  std::vector<std::string> roots;
  const auto& drives = machineProfile().drives;
  if (!drives) return roots;  // a profile without drives shows no process at all
  for (const auto& d : *drives) {
    roots.push_back(d.root);
    char resolved[PATH_MAX];
    if (realpath(d.root.c_str(), resolved) && d.root != resolved) roots.push_back(resolved);
  }
  return roots;
}

}  // namespace

bool readProcessRecord(std::uint32_t pid, ProcessRecord& out) {
  std::string stat;
  if (!readSmall("/proc/" + std::to_string(pid) + "/stat", stat, 4096)) return false;
  char state = 0;
  std::string comm;
  ProcessRecord r;
  r.entry.pid = pid;
  if (!parseStat(stat, state, r.entry.parentPid, r.startTime, comm)) return false;
  if (state == 'Z' || state == 'X' || state == 'x') return false;
  r.entry.hostPath = executableOf(pid);
  std::string name = baseName(r.entry.hostPath);
  if (name.empty()) name = baseName(firstArgument(pid));
  if (name.empty()) name = comm;  // kernel threads
  r.entry.exeName = utf8ToWide(name);
  out = std::move(r);
  return true;
}

bool readProcessTable(std::vector<ProcessRecord>& out, bool visibleOnly) {
  out.clear();
  DIR* dir = opendir("/proc");
  if (!dir) {
    setLastErrorFromErrno();
    return false;
  }
  std::vector<std::uint32_t> ids;
  while (dirent* e = readdir(dir)) {
    char* end = nullptr;
    unsigned long id = std::strtoul(e->d_name, &end, 10);
    if (e->d_name[0] >= '1' && e->d_name[0] <= '9' && *end == '\0' && id <= 0xFFFFFFFFul) {
      ids.push_back(static_cast<std::uint32_t>(id));
    }
  }
  closedir(dir);
  std::sort(ids.begin(), ids.end());
  bool profiled = machineProfile().active();
  std::vector<std::string> roots = profiled ? sandboxRoots() : std::vector<std::string>{};
  for (std::uint32_t id : ids) {
    ProcessRecord r;
    if (!readProcessRecord(id, r)) continue;  // ended meanwhile, or a zombie
    // Under a profile only executables under one of its drive roots are seen.
    if (visibleOnly && profiled) {
      bool inside = false;
      for (const auto& root : roots) inside = inside || underFolder(r.entry.hostPath, root);
      if (!inside || r.entry.hostPath.empty()) continue;
    }
    out.push_back(std::move(r));
  }
  setLastError(ERROR_SUCCESS);
  return true;
}

bool snapshotProcesses(std::vector<ProcessEntry>& out) {
  std::vector<ProcessRecord> table;
  if (!readProcessTable(table, true)) return false;
  out.clear();
  for (auto& r : table) out.push_back(std::move(r.entry));
  return true;
}

}  // namespace platform
