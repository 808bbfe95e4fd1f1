#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/drives.h"
#include "platform/invoking_user.h"
#include "platform/last_error.h"

namespace platform {
namespace {

// Converts a path; an unknown drive is ERROR_PATH_NOT_FOUND.
bool toHost(const std::wstring& path, std::string& host) {
  host = hostPath(path);
  if (host.empty()) {
    setLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  return true;
}

bool copyContent(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return setLastErrorFromErrno(), false;
  struct stat st;
  fstat(in, &st);
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    setLastErrorFromErrno();
    ::close(in);
    return false;
  }
  adoptFolderOwner(to);
  char buffer[1 << 16];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n && ok;) {
      ssize_t w = ::write(out, buffer + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      ok = w > 0;
      done += w > 0 ? w : 0;
    }
    if (!ok) break;
  }
  // The source is removed after the copy: the copy must be on disk first.
  ok = ok && fsync(out) == 0;
  if (!ok) setLastErrorFromErrno();
  ::close(in);
  if (::close(out) != 0 && ok) {
    setLastErrorFromErrno();
    ok = false;
  }
  if (!ok) ::unlink(to.c_str());
  return ok;
}

// rename(2); without `replace` an existing destination fails with EEXIST
// even when it appeared after the caller looked.
bool renameInPlace(const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without RENAME_NOREPLACE: the check made before stands.
  return ::rename(from.c_str(), to.c_str()) == 0;
}

void syncFolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  ::close(fd);
}

}  // namespace

bool pathExists(const std::wstring& path) {
  std::string host;
  if (!toHost(path, host)) return false;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return setLastErrorFromErrno(), false;
  return true;
}

bool isDirectory(const std::wstring& path) {
  std::string host;
  if (!toHost(path, host)) return false;
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD createDirectoryTree(const std::wstring& path) {
  std::string host;
  if (!toHost(path, host)) return ERROR_PATH_NOT_FOUND;
  struct stat st;
  if (stat(host.c_str(), &st) == 0) {
    DWORD code = S_ISDIR(st.st_mode) ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS;
    setLastError(code);
    return code;
  }
  for (size_t i = 1; i <= host.size(); ++i) {
    if (i != host.size() && host[i] != '/') continue;
    std::string level = host.substr(0, i);
    if (mkdir(level.c_str(), 0755) == 0) {
      adoptFolderOwner(level);
    } else if (errno != EEXIST) {
      return setLastErrorFromErrno();
    }
    if (stat(level.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      setLastError(ERROR_PATH_NOT_FOUND);
      return ERROR_PATH_NOT_FOUND;
    }
  }
  setLastError(ERROR_SUCCESS);
  return ERROR_SUCCESS;
}

bool moveFile(const std::wstring& from, const std::wstring& to, DWORD flags) {
  std::string src, dst;
  if (!toHost(from, src) || !toHost(to, dst)) return false;
  struct stat st;
  if (lstat(src.c_str(), &st) != 0) return setLastErrorFromErrno(), false;
  bool replace = flags & MOVEFILE_REPLACE_EXISTING;
  struct stat existing;
  if (lstat(dst.c_str(), &existing) == 0) {
    if (!replace) return setLastError(ERROR_ALREADY_EXISTS), false;
    if (S_ISDIR(existing.st_mode)) return setLastError(ERROR_ACCESS_DENIED), false;
  }
  if (renameInPlace(src, dst, replace)) return true;
  if (errno == EEXIST) return setLastError(ERROR_ALREADY_EXISTS), false;
  if (errno != EXDEV) return setLastErrorFromErrno(), false;
  if (!(flags & MOVEFILE_COPY_ALLOWED)) return setLastError(ERROR_NOT_SAME_DEVICE), false;
  if (S_ISDIR(st.st_mode)) return setLastError(ERROR_ACCESS_DENIED), false;
  // Across volumes: copy beside the destination, then rename it into place.
  std::string temporary = dst + ".vireo-move";
  if (!copyContent(src, temporary)) return false;
  if (!renameInPlace(temporary, dst, replace)) {
    setLastErrorFromErrno();  // EEXIST reads as ERROR_ALREADY_EXISTS
    ::unlink(temporary.c_str());
    return false;
  }
  ::unlink(src.c_str());
  return true;
}

bool deleteFile(const std::wstring& path) {
  std::string host;
  if (!toHost(path, host)) return false;
  struct stat st;
  if (lstat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return setLastError(ERROR_ACCESS_DENIED), false;
  }
  if (::unlink(host.c_str()) != 0) return setLastErrorFromErrno(), false;
  return true;
}

bool fileSize(const std::wstring& path, std::uint64_t& size) {
  File f;
  if (!f.open(path, false, Disposition::OpenExisting)) return false;
  return f.size(size);
}

bool readFile(const std::wstring& path, std::string& bytes, std::uint64_t maxBytes) {
  File f;
  if (!f.open(path, false, Disposition::OpenExisting)) return false;
  bytes.clear();
  char buffer[1 << 16];
  setLastError(ERROR_SUCCESS);
  while (bytes.size() < maxBytes) {
    std::uint64_t want = std::min<std::uint64_t>(sizeof buffer, maxBytes - bytes.size());
    std::uint32_t n = f.read(buffer, static_cast<std::uint32_t>(want));
    if (n == 0) return getLastError() == ERROR_SUCCESS;  // the end, or a read error
    bytes.append(buffer, n);
  }
  return true;
}

bool writeFileAtomically(const std::wstring& path, const std::string& bytes) {
  std::string host;
  if (!toHost(path, host)) return false;
  static std::atomic<unsigned> counter{0};
  std::string temporary = host + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return setLastErrorFromErrno(), false;
  adoptFolderOwner(temporary);
  bool ok = true;
  for (size_t done = 0; done < bytes.size() && ok;) {
    ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    ok = w > 0;
    done += w > 0 ? w : 0;
  }
  ok = ok && fsync(fd) == 0;
  if (!ok) setLastErrorFromErrno();
  ::close(fd);
  if (ok && ::rename(temporary.c_str(), host.c_str()) != 0) {
    setLastErrorFromErrno();
    ok = false;
  }
  if (!ok) ::unlink(temporary.c_str());
  if (ok) syncFolderOf(host);
  return ok;
}

File::~File() { close(); }

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool File::open(const std::wstring& path, bool write, Disposition disposition) {
  close();
  std::string host;
  if (!toHost(path, host)) return false;
  int flags = (write ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  switch (disposition) {
    case Disposition::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case Disposition::CreateNew: flags |= O_CREAT | O_EXCL; break;
    case Disposition::OpenExisting: break;
    case Disposition::OpenAlways: flags |= O_CREAT; break;
  }
  if (!write && disposition != Disposition::OpenExisting) flags = (flags & ~O_RDONLY) | O_RDWR;
  struct stat before;
  bool existed = lstat(host.c_str(), &before) == 0;
  int fd = ::open(host.c_str(), flags, 0644);
  if (fd < 0) {
    DWORD code = setLastErrorFromErrno();
    if (code == ERROR_ALREADY_EXISTS) setLastError(ERROR_FILE_EXISTS);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    setLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (!existed) adoptFolderOwner(host);
  fd_ = fd;
  setLastError(ERROR_SUCCESS);
  return true;
}

void File::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::uint32_t File::read(void* buffer, std::uint32_t size) {
  if (fd_ < 0) return setLastError(ERROR_INVALID_HANDLE), 0;
  for (;;) {
    ssize_t n = ::read(fd_, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return setLastErrorFromErrno(), 0;
    return static_cast<std::uint32_t>(n);
  }
}

bool File::write(const void* data, std::uint64_t size) {
  if (fd_ < 0) return setLastError(ERROR_INVALID_HANDLE), false;
  const char* p = static_cast<const char*>(data);
  std::uint64_t done = 0;
  while (done < size) {
    ssize_t w = ::write(fd_, p + done, size - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return setLastErrorFromErrno(), false;
    done += static_cast<std::uint64_t>(w);
  }
  return true;
}

bool File::seekToEnd() { return seek(0, SEEK_END); }

bool File::seek(std::int64_t offset, int whence) {
  if (fd_ < 0) return setLastError(ERROR_INVALID_HANDLE), false;
  if (lseek(fd_, offset, whence) < 0) return setLastErrorFromErrno(), false;
  return true;
}

bool File::size(std::uint64_t& out) const {
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0) return setLastErrorFromErrno(), false;
  out = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool File::truncate() {
  if (fd_ < 0) return setLastError(ERROR_INVALID_HANDLE), false;
  off_t here = lseek(fd_, 0, SEEK_CUR);
  if (here < 0 || ftruncate(fd_, here) != 0) return setLastErrorFromErrno(), false;
  return true;
}

}  // namespace platform
