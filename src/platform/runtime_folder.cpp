#include "platform/runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/code_pages.h"
#include "platform/last_error.h"
#include "platform/machine_profile.h"

namespace platform {
namespace {

// Creates (0700) or checks one private folder: a real folder, owned by us,
// reachable by nobody else.
bool ensurePrivateFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return setLastErrorFromErrno(), false;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return setLastErrorFromErrno(), false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    setLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if ((st.st_mode & 077) != 0 && chmod(path.c_str(), 0700) != 0) {
    return setLastErrorFromErrno(), false;
  }
  return true;
}

bool usableRuntimeDir(const char* dir) {
  if (!dir || *dir != '/') return false;
  struct stat st;
  return stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         access(dir, W_OK | X_OK) == 0;
}

std::string baseFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (usableRuntimeDir(runtime)) return std::string(runtime) + "/vireo";
  return "/tmp/vireo-" + std::to_string(geteuid());
}

std::string namespaceFolder() {
  const auto& ns = machineProfile().ns;
  // The profile allows only letters, digits, '-', '_' and '.'; the prefix
  // keeps "." and ".." from naming a parent.
  return ns ? "ns-" + *ns : "default";
}

bool plainCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'-' || c == L'_' || c == L'.' || c == L'{' || c == L'}';
}

}  // namespace

bool namedObjectFolder(const std::string& kind, std::string& folder) {
  std::string path = baseFolder();
  if (!ensurePrivateFolder(path)) return false;
  for (const std::string& level : {kind, namespaceFolder()}) {
    path += "/" + level;
    if (!ensurePrivateFolder(path)) return false;
  }
  folder = path;
  return true;
}

std::string namedObjectFileName(const std::wstring& name) {
  std::string out = "n-";
  for (wchar_t c : name) {
    if (plainCharacter(c)) {
      out += static_cast<char>(c);
    } else {
      char code[16];
      std::snprintf(code, sizeof code, "%%%08X", static_cast<std::uint32_t>(c));
      out += code;
    }
  }
  if (out.size() <= 200) return out;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over the UTF-8 form
  for (unsigned char b : wideToUtf8(name)) hash = (hash ^ b) * 1099511628211ull;
  char digest[64];
  std::snprintf(digest, sizeof digest, "h-%016llx-%zu", static_cast<unsigned long long>(hash),
                name.size());
  return digest;
}

}  // namespace platform
