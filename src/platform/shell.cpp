#include "platform/shell.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/child_spawn.h"
#include "platform/code_pages.h"
#include "platform/last_error.h"
#include "platform/machine_profile.h"

namespace platform {
namespace {

constexpr int kLogindTimeoutMs = 10000;

// Appends one line with a single write, so that lines of concurrent writers
// never interleave.
bool appendLine(const std::string& file, const std::string& line) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return setLastErrorFromErrno(), false;
  std::string text = line + "\n";
  ssize_t w;
  do {
    w = ::write(fd, text.data(), text.size());
  } while (w < 0 && errno == EINTR);
  bool ok = w == static_cast<ssize_t>(text.size());
  if (!ok) setLastErrorFromErrno();
  ::close(fd);
  return ok;
}

std::string sandboxFile(const char* name) { return machineProfile().folder + "/" + name; }

// The first executable of that name on PATH.
std::string findOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// Only web addresses go to the desktop's handler: xdg-open would open a local
// file or a launcher with whatever program claims it.
bool isWebAddress(const std::string& url) {
  auto starts = [&](const char* scheme) {
    size_t n = std::char_traits<char>::length(scheme);
    if (url.size() <= n) return false;
    for (size_t i = 0; i < n; ++i) {
      if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
    }
    return true;
  };
  for (char c : url) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return starts("http://") || starts("https://");
}

// Calls a method of logind's manager on the system bus; fills `reply`.
bool callLogind(const char* method, GVariant* parameters, const GVariantType* replyType,
                GVariant** reply) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
  if (!bus) {
    if (error) g_error_free(error);
    if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
    setLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  GVariant* result = g_dbus_connection_call_sync(
      bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
      method, parameters, replyType, G_DBUS_CALL_FLAGS_NONE, kLogindTimeoutMs, nullptr, &error);
  g_object_unref(bus);
  if (!result) {
    if (error) g_error_free(error);
    setLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (reply) *reply = result;
  else g_variant_unref(result);
  return true;
}

}  // namespace

bool openUrl(const std::wstring& url) {
  std::string address = wideToUtf8(url);
  if (machineProfile().active()) return appendLine(sandboxFile("opened-urls.txt"), address);
  if (!isWebAddress(address)) {
    setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  SpawnRequest request;
  request.program = findOnPath("xdg-open");
  if (request.program.empty()) {
    setLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  request.arguments = {request.program, address};
  request.environment = environmentWith({}, {});
  request.asInvokingUser = true;  // a browser never runs as root
  SpawnResult spawned = spawnChild(request);
  if (spawned.pid < 0) {
    setLastError(windowsErrorFromErrno(spawned.error));
    return false;
  }
  reapInBackground(spawned.pid, spawned.pidfd);
  setLastError(ERROR_SUCCESS);
  return true;
}

bool enableShutdownPrivilege() {
  if (machineProfile().active()) {
    return appendLine(sandboxFile("restart-requests.txt"), "enableShutdownPrivilege");
  }
  // Linux has no privilege to switch on: ask whether logind would let us.
  GVariant* reply = nullptr;
  if (!callLogind("CanReboot", nullptr, G_VARIANT_TYPE("(s)"), &reply)) return false;
  const gchar* answer = nullptr;
  g_variant_get(reply, "(&s)", &answer);
  std::string verdict = answer ? answer : "";
  g_variant_unref(reply);
  bool allowed = verdict == "yes" || verdict == "challenge";
  if (!allowed) setLastError(ERROR_ACCESS_DENIED);
  return allowed;
}

bool requestRestart() {
  if (machineProfile().active()) {
    return appendLine(sandboxFile("restart-requests.txt"), "requestRestart");
  }
  return callLogind("Reboot", g_variant_new("(b)", FALSE), nullptr, nullptr);
}

}  // namespace platform
