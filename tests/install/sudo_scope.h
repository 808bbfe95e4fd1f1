// What sudo leaves in the environment of a root process, simulated for the
// unprivileged user "nobody" while the object lives.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace install_tests {

class SudoScope {
 public:
  SudoScope() {
    struct passwd* user = getpwnam("nobody");
    if (!user || user->pw_uid == 0) return;
    uid = user->pw_uid;
    gid = user->pw_gid;
    home = user->pw_dir;
    setenv("SUDO_UID", std::to_string(uid).c_str(), 1);
    setenv("SUDO_GID", std::to_string(gid).c_str(), 1);
    setenv("SUDO_USER", "nobody", 1);
  }
  ~SudoScope() {
    unsetenv("SUDO_UID");
    unsetenv("SUDO_GID");
    unsetenv("SUDO_USER");
  }
  SudoScope(const SudoScope&) = delete;
  SudoScope& operator=(const SudoScope&) = delete;

  // Why the simulation cannot run here; empty when it can.
  std::string unusableReason() const {
    if (geteuid() != 0) return "the installer's elevation is simulated only when the test runs as root";
    if (uid == 0) return "no unprivileged user \"nobody\" on this machine";
    return {};
  }

  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
};

}  // namespace install_tests
