#include "file_tree.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace standin {
namespace {

bool hasParentSegment(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

std::string realPathOf(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return {};
  return resolved;
}

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

OpenFile::~OpenFile() { ::close(fd_); }

long long OpenFile::readAt(std::uint64_t offset, char* buffer, std::size_t length) const {
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer, length, static_cast<off_t>(offset));
    if (n >= 0 || errno != EINTR) return n;
  }
}

FileTree::FileTree(const std::string& root) {
  struct stat info{};
  std::string real = realPathOf(root);
  if (!real.empty() && ::stat(real.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    root_ = real;
    rootPrefix_ = real == "/" ? real : real + "/";
  }
}

bool FileTree::insideRoot(const std::string& realPath) const {
  return realPath == root_ || realPath.compare(0, rootPrefix_.size(), rootPrefix_) == 0;
}

Lookup FileTree::open(std::string_view path) const {
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos ||
      path.find('\\') != std::string_view::npos || hasParentSegment(path))
    return {Lookup::Result::Forbidden, nullptr};
  return openResolved(root_ + std::string(path));
}

Lookup FileTree::openResolved(const std::string& hostPath) const {
  const std::string real = realPathOf(hostPath);
  if (real.empty()) return {Lookup::Result::NotFound, nullptr};
  if (!insideRoot(real)) return {Lookup::Result::Forbidden, nullptr};

  // O_NOFOLLOW: the resolved path has no links left; one appearing now is refused.
  const int fd = ::open(real.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return {errno == ELOOP ? Lookup::Result::Forbidden : Lookup::Result::NotFound, nullptr};
  struct stat info{};
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return {Lookup::Result::NotFound, nullptr};
  }
  if (S_ISDIR(info.st_mode)) {
    ::close(fd);
    const std::string index = real + "/index.html";
    struct stat indexInfo{};
    if (::lstat(index.c_str(), &indexInfo) != 0) return {Lookup::Result::NotFound, nullptr};
    return openResolved(index);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return {Lookup::Result::NotFound, nullptr};
  }
  return {Lookup::Result::Found,
          std::make_shared<OpenFile>(fd, static_cast<std::uint64_t>(info.st_size))};
}

std::string contentTypeFor(std::string_view path) {
  struct Mapping {
    std::string_view extension;
    std::string_view type;
  };
  static constexpr Mapping kTypes[] = {
      {".json", "application/json"},       {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"}, {".txt", "text/plain; charset=utf-8"},
      {".png", "image/png"},               {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},             {".gif", "image/gif"},
      {".ico", "image/x-icon"},            {".css", "text/css"},
      {".js", "application/javascript"},   {".apk", "application/vnd.android.package-archive"},
      {".xapk", "application/octet-stream"}, {".exe", "application/octet-stream"},
  };
  for (const auto& mapping : kTypes) {
    if (endsWith(path, mapping.extension)) return std::string(mapping.type);
  }
  // The download-resolution document has no extension but is JSON.
  if (endsWith(path, "/tallisex")) return "application/json";
  return "application/octet-stream";
}

}  // namespace standin
