#include "platform/known_folders.h"

#include <limits.h>
#include <unistd.h>

#include <fstream>

#include "platform/drives.h"
#include "platform/invoking_user.h"
#include "platform/machine_profile.h"

namespace platform {
namespace {

// Under sudo or pkexec these are the invoking user's (invoking_user.h).
std::string home() { return userHomeFolder(); }

// XDG_DESKTOP_DIR from user-dirs.dirs ("$HOME/Desktop" form), if set.
std::string xdgDesktop() {
  std::string config = userXdgFolder("XDG_CONFIG_HOME", "/.config");
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    const std::string key = "XDG_DESKTOP_DIR=\"";
    if (line.rfind(key, 0) != 0 || line.back() != '"') continue;
    std::string value = line.substr(key.size(), line.size() - key.size() - 1);
    if (value.rfind("$HOME", 0) == 0) value = home() + value.substr(5);
    if (!value.empty() && value[0] == '/') return value;
  }
  return home() + "/Desktop";
}

bool underProfile() { return machineProfile().active(); }

}  // namespace

std::wstring appDataFolder() {
  const auto& p = machineProfile();
  if (p.appData) return *p.appData;
  if (underProfile()) return L"C:\\.config";
  return windowsPath(userXdgFolder("XDG_CONFIG_HOME", "/.config"));
}

std::wstring desktopFolder() {
  const auto& p = machineProfile();
  if (p.desktop) return *p.desktop;
  if (underProfile()) return L"C:\\Desktop";
  return windowsPath(xdgDesktop());
}

std::wstring windowsFolder() {
  const auto& p = machineProfile();
  if (p.windowsDir) return *p.windowsDir;
  if (underProfile()) return L"C:\\Windows";
  return windowsPath(userXdgFolder("XDG_DATA_HOME", "/.local/share") + "/vireo/windows");
}

std::string moduleHostPath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

std::wstring modulePath() { return windowsPath(moduleHostPath()); }

}  // namespace platform
