#include "platform/registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdint>

#include "platform/case_folding.h"
#include "platform/invoking_user.h"
#include "platform/last_error.h"
#include "platform/machine_profile.h"
#include "platform/registry_text.h"

namespace platform::registry {
namespace {

// A store file larger than this is not read (a damaged or hostile file must
// not exhaust memory); it reads as empty and refuses writes.
constexpr std::uint64_t kMaxStoreBytes = 64ull << 20;
constexpr size_t kMaxKeyNameLength = 255;

const wchar_t* rootName(HKEY root) {
  if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  return nullptr;
}

DWORD fail(DWORD code) {
  setLastError(code);
  return code;
}

DWORD failFromErrno() { return setLastErrorFromErrno(); }

bool validKeyCharacter(wchar_t w) {
  auto c = static_cast<std::uint32_t>(w);
  return c >= 0x20 && c != 0x7F && c != L'\\' && !(c >= 0xD800 && c <= 0xDFFF) && c <= 0x10FFFF;
}

// "Software\\zk\varedori\" -> "Software\zk\varedori": empty components are
// dropped; a component with a control character or over 255 characters is
// refused.
bool normalizeKeyPath(const std::wstring& subKey, std::wstring& path) {
  path.clear();
  std::wstring component;
  auto flush = [&] {
    if (component.empty()) return true;
    if (component.size() > kMaxKeyNameLength) return false;
    if (!path.empty()) path += L'\\';
    path += component;
    component.clear();
    return true;
  };
  for (wchar_t c : subKey) {
    if (c == L'\\') {
      if (!flush()) return false;
    } else if (!validKeyCharacter(c)) {
      return false;
    } else {
      component += c;
    }
  }
  return flush();
}

std::string storeFile(HKEY root) {
  std::string name;
  for (const wchar_t* p = rootName(root); *p; ++p) name += static_cast<char>(*p);
  return storeFolder() + "/" + name + ".reg";
}

DWORD ensureFolder(const std::string& folder) {
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i != folder.size() && folder[i] != '/') continue;
    std::string level = folder.substr(0, i);
    if (mkdir(level.c_str(), 0700) == 0) {
      adoptFolderOwner(level);
    } else if (errno != EEXIST) {
      return failFromErrno();
    }
  }
  return ERROR_SUCCESS;
}

// Reads the whole store file. A missing file is an empty store.
DWORD readStoreFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ERROR_SUCCESS : failFromErrno();
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > kMaxStoreBytes) {
    ::close(fd);
    return fail(ERROR_INVALID_DATA);
  }
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      DWORD code = failFromErrno();
      ::close(fd);
      return code;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
    if (bytes.size() > kMaxStoreBytes) {
      ::close(fd);
      return fail(ERROR_INVALID_DATA);
    }
  }
  ::close(fd);
  return ERROR_SUCCESS;
}

bool writeAll(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

void syncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  ::close(fd);
}

// Replaces `path` with `bytes`: a temporary beside it, fsync, rename, fsync
// of the folder. Runs under the store lock, so one temporary name serves.
DWORD replaceFile(const std::string& path, const std::string& bytes) {
  std::string temporary = path + ".tmp";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return failFromErrno();
  adoptFolderOwner(temporary);
  bool ok = writeAll(fd, bytes) && fsync(fd) == 0;
  int savedErrno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    errno = savedErrno;
    return failFromErrno();
  }
  syncFolder(path.substr(0, path.rfind('/')));
  return ERROR_SUCCESS;
}

// Holds the store's lock file with an exclusive open-file-description lock:
// it serialises writers of every process and thread, and the kernel drops it
// when the holder dies. Readers do not take it: files are replaced whole.
class StoreLock {
 public:
  explicit StoreLock(const std::string& lockPath) {
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
      error_ = failFromErrno();
      return;
    }
    adoptFolderOwner(lockPath);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    int r;
    do {
      r = fcntl(fd_, F_OFD_SETLKW, &lock);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
      error_ = failFromErrno();
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  DWORD error() const { return error_; }

 private:
  int fd_ = -1;
  DWORD error_ = ERROR_SUCCESS;
};

// Reads a root's store; a file that cannot be read counts as empty.
StoredRoot loadRoot(HKEY root) {
  std::string bytes;
  if (readStoreFile(storeFile(root), bytes) != ERROR_SUCCESS) return {};
  return parseStoreText(bytes);
}

bool keyImplied(const StoredRoot& stored, const std::wstring& path) {
  if (path.empty()) return true;
  std::wstring folded = upperCased(path);
  for (const auto& k : stored.keys) {
    std::wstring other = upperCased(k.path);
    if (other == folded || other.rfind(folded + L"\\", 0) == 0) return true;
  }
  return false;
}

StoredKey* findKey(StoredRoot& stored, const std::wstring& path) {
  for (auto& k : stored.keys) {
    if (equalsIgnoringCase(k.path, path)) return &k;
  }
  return nullptr;
}

StoredKey& addKey(StoredRoot& stored, const std::wstring& path) {
  if (StoredKey* k = findKey(stored, path)) return *k;
  stored.keys.push_back({path, {}});
  return stored.keys.back();
}

// Every level of the path, from the top.
void addKeyWithParents(StoredRoot& stored, const std::wstring& path) {
  if (path.empty()) {
    addKey(stored, path);
    return;
  }
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\') addKey(stored, path.substr(0, i));
  }
}

// Outcome of a change applied to the loaded store.
enum class Change { Write, Unchanged };

// Locks the root's store, loads it, lets `edit` change it and writes it back
// atomically. A file that held damaged lines is kept beside as ".damaged"
// before it is replaced, so that nothing a person typed is lost silently.
template <typename Edit>
DWORD modifyRoot(HKEY root, Edit edit) {
  std::string folder = storeFolder();
  if (DWORD e = ensureFolder(folder)) return e;
  std::string file = storeFile(root);
  StoreLock lock(file + ".lock");
  if (lock.error()) return lock.error();
  std::string bytes;
  if (DWORD e = readStoreFile(file, bytes)) return e;
  StoredRoot stored = parseStoreText(bytes);
  Change change = Change::Unchanged;
  if (DWORD e = edit(stored, change)) return fail(e);
  if (change == Change::Unchanged) return fail(ERROR_SUCCESS);
  if (stored.damagedLines > 0) {
    if (DWORD e = replaceFile(file + ".damaged", bytes)) return e;
  }
  stored.damagedLines = 0;
  if (DWORD e = replaceFile(file, formatStoreText(stored, rootName(root)))) return e;
  return fail(ERROR_SUCCESS);
}

// Checks the root and the sub-key; fills the normalised path.
DWORD checkKey(HKEY root, const std::wstring& subKey, std::wstring& path) {
  if (!rootName(root) || !normalizeKeyPath(subKey, path)) return fail(ERROR_INVALID_PARAMETER);
  return ERROR_SUCCESS;
}

}  // namespace

std::string storeFolder() {
  const auto& profile = machineProfile();
  if (profile.registry) return *profile.registry;
  return userXdgFolder("XDG_CONFIG_HOME", "/.config") + "/vireo/registry";
}

DWORD keyExists(HKEY root, const std::wstring& subKey) {
  std::wstring path;
  if (DWORD e = checkKey(root, subKey, path)) return e;
  return fail(keyImplied(loadRoot(root), path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
}

DWORD createKey(HKEY root, const std::wstring& subKey) {
  std::wstring path;
  if (DWORD e = checkKey(root, subKey, path)) return e;
  StoredRoot current = loadRoot(root);
  if (findKey(current, path)) return fail(ERROR_SUCCESS);  // no lock, no rewrite
  return modifyRoot(root, [&](StoredRoot& stored, Change& change) -> DWORD {
    if (findKey(stored, path)) return ERROR_SUCCESS;
    addKeyWithParents(stored, path);
    change = Change::Write;
    return ERROR_SUCCESS;
  });
}

DWORD readValue(HKEY root, const std::wstring& subKey, const std::wstring& name,
                std::wstring& value) {
  std::wstring path;
  if (DWORD e = checkKey(root, subKey, path)) return e;
  StoredRoot stored = loadRoot(root);
  if (StoredKey* key = findKey(stored, path)) {
    for (auto& v : key->values) {
      if (equalsIgnoringCase(v.name, name)) {
        value = std::move(v.data);
        return fail(ERROR_SUCCESS);
      }
    }
  }
  return fail(ERROR_FILE_NOT_FOUND);
}

DWORD writeValue(HKEY root, const std::wstring& subKey, const std::wstring& name,
                 const std::wstring& value) {
  std::wstring path;
  if (DWORD e = checkKey(root, subKey, path)) return e;
  return modifyRoot(root, [&](StoredRoot& stored, Change& change) -> DWORD {
    if (!keyImplied(stored, path)) return ERROR_FILE_NOT_FOUND;
    StoredKey& key = addKey(stored, path);
    change = Change::Write;
    for (auto& v : key.values) {
      if (equalsIgnoringCase(v.name, name)) {
        v.data = value;  // the name keeps the case of its first writing
        return ERROR_SUCCESS;
      }
    }
    key.values.push_back({name, value});
    return ERROR_SUCCESS;
  });
}

DWORD deleteValue(HKEY root, const std::wstring& subKey, const std::wstring& name) {
  std::wstring path;
  if (DWORD e = checkKey(root, subKey, path)) return e;
  return modifyRoot(root, [&](StoredRoot& stored, Change& change) -> DWORD {
    StoredKey* key = findKey(stored, path);
    if (!key) return ERROR_FILE_NOT_FOUND;
    for (auto it = key->values.begin(); it != key->values.end(); ++it) {
      if (equalsIgnoringCase(it->name, name)) {
        key->values.erase(it);
        change = Change::Write;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  });
}

DWORD listValues(HKEY root, const std::wstring& subKey, std::vector<std::wstring>& names) {
  std::wstring path;
  if (DWORD e = checkKey(root, subKey, path)) return e;
  StoredRoot stored = loadRoot(root);
  names.clear();
  if (StoredKey* key = findKey(stored, path)) {
    for (const auto& v : key->values) names.push_back(v.name);
    return fail(ERROR_SUCCESS);
  }
  return fail(keyImplied(stored, path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
}

}  // namespace platform::registry
