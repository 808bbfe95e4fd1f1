// The user behind an elevated run. On Windows an elevated installer keeps
// the user's own folders and whatever it writes stays usable by that user.
// Here elevation is root through sudo or pkexec, so the platform looks
// through it: the user's folders are the invoking user's, and what the
// platform creates in that user's folders is given to that user.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

struct InvokingUser {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;          // empty when the user database does not know the id
  std::string home;          // likewise
  std::vector<gid_t> groups;  // the user's groups, gid included
};

// The user who ran this program through sudo (SUDO_UID, SUDO_GID) or pkexec
// (PKEXEC_UID), when this process runs as root (effective id 0) and that
// user is not root; nothing otherwise. Read afresh on every call.
std::optional<InvokingUser> invokingUser();

// The home folder of the user this program works for: the invoking user's
// home when there is one, else $HOME (an absolute path), else "/".
std::string userHomeFolder();

// An XDG base folder ("XDG_CONFIG_HOME", fallback "/.config" under the
// home): the environment's value when it is absolute and there is no
// invoking user (sudo and pkexec leave root's or nobody's), else home +
// fallback.
std::string userXdgFolder(const char* variable, const char* homeRelativeFallback);

// Whether the invoking user (or, without one, this process) may write into
// the folder.
bool userCanWrite(const std::string& hostFolder);

// Called right after the platform created `hostPath`: when the folder it was
// created in belongs to the invoking user, the new file or folder takes that
// folder's owner and group. Nothing happens without an invoking user, in a
// folder root (or anybody else) owns, or for a symbolic link.
void adoptFolderOwner(const std::string& hostPath);

}  // namespace platform
