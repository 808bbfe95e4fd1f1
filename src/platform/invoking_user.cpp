#include "platform/invoking_user.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

bool parseId(const char* text, unsigned long& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoul(text, &end, 10);
  return errno == 0 && *end == '\0' && out < 0xFFFFFFFFul;
}

std::string folderOf(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;  // "a/b/" names b
  size_t slash = path.rfind('/', end - 1);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void readUserDatabase(InvokingUser& user, bool haveGid) {
  std::vector<char> buffer(16384);
  struct passwd entry, *found = nullptr;
  if (getpwuid_r(user.uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    if (!haveGid) user.gid = user.uid;
    user.groups = {user.gid};
    return;
  }
  if (!haveGid) user.gid = found->pw_gid;
  user.name = found->pw_name;
  if (found->pw_dir && found->pw_dir[0] == '/') user.home = found->pw_dir;
  int count = 64;
  user.groups.resize(static_cast<size_t>(count));
  if (getgrouplist(found->pw_name, user.gid, user.groups.data(), &count) < 0) {
    user.groups.resize(static_cast<size_t>(count));
    getgrouplist(found->pw_name, user.gid, user.groups.data(), &count);
  }
  user.groups.resize(static_cast<size_t>(count));
  if (user.groups.empty()) user.groups.push_back(user.gid);
}

// The id only, without the user database (called for every file created).
std::optional<uid_t> invokingUid() {
  if (geteuid() != 0) return std::nullopt;
  unsigned long uid = 0;
  if (!parseId(std::getenv("SUDO_UID"), uid) && !parseId(std::getenv("PKEXEC_UID"), uid)) {
    return std::nullopt;
  }
  if (uid == 0) return std::nullopt;
  return static_cast<uid_t>(uid);
}

}  // namespace

std::optional<InvokingUser> invokingUser() {
  if (geteuid() != 0) return std::nullopt;
  unsigned long uid = 0, gid = 0;
  bool haveGid = false;
  if (parseId(std::getenv("SUDO_UID"), uid)) {
    haveGid = parseId(std::getenv("SUDO_GID"), gid);
  } else if (!parseId(std::getenv("PKEXEC_UID"), uid)) {
    return std::nullopt;
  }
  if (uid == 0) return std::nullopt;
  InvokingUser user;
  user.uid = static_cast<uid_t>(uid);
  user.gid = static_cast<gid_t>(gid);
  readUserDatabase(user, haveGid);
  return user;
}

std::string userHomeFolder() {
  if (auto user = invokingUser(); user && !user->home.empty()) return user->home;
  const char* home = std::getenv("HOME");
  return home && *home == '/' ? home : "/";
}

std::string userXdgFolder(const char* variable, const char* homeRelativeFallback) {
  if (!invokingUid()) {
    const char* value = std::getenv(variable);
    if (value && *value == '/') return value;
  }
  std::string home = userHomeFolder();
  if (home == "/") return homeRelativeFallback;
  return home + homeRelativeFallback;
}

bool userCanWrite(const std::string& hostFolder) {
  auto user = invokingUser();
  if (!user) return access(hostFolder.c_str(), W_OK) == 0;
  struct stat st;
  if (stat(hostFolder.c_str(), &st) != 0) return false;
  if (st.st_uid == user->uid) return st.st_mode & S_IWUSR;
  for (gid_t g : user->groups) {
    if (st.st_gid == g) return st.st_mode & S_IWGRP;
  }
  return st.st_mode & S_IWOTH;
}

void adoptFolderOwner(const std::string& hostPath) {
  std::optional<uid_t> uid = invokingUid();
  if (!uid || hostPath.empty()) return;
  struct stat folder, created;
  if (stat(folderOf(hostPath).c_str(), &folder) != 0 || folder.st_uid != *uid) return;
  if (lstat(hostPath.c_str(), &created) != 0 || S_ISLNK(created.st_mode)) return;
  if (created.st_uid == folder.st_uid && created.st_gid == folder.st_gid) return;
  fchownat(AT_FDCWD, hostPath.c_str(), folder.st_uid, folder.st_gid, AT_SYMLINK_NOFOLLOW);
}

}  // namespace platform
