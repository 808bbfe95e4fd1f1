// The served file tree: maps request paths to files under the root folder
// and never lets a request reach outside it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace standin {

// An open file to serve; closes itself.
class OpenFile {
 public:
  OpenFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~OpenFile();
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  std::uint64_t size() const { return size_; }
  // Reads up to `length` bytes at `offset`; returns the count, or -1.
  long long readAt(std::uint64_t offset, char* buffer, std::size_t length) const;

 private:
  int fd_;
  std::uint64_t size_;
};

struct Lookup {
  enum class Result { Found, NotFound, Forbidden };
  Result result = Result::NotFound;
  std::shared_ptr<OpenFile> file;
};

class FileTree {
 public:
  // `root` must be an existing folder.
  explicit FileTree(const std::string& root);

  bool valid() const { return !root_.empty(); }
  const std::string& root() const { return root_; }

  // `path` is the decoded request path ("/zk/tallisex"). Refuses ".."
  // segments, back-slashes, NUL bytes and anything whose real location
  // (after symbolic links) is outside the root. A folder serves its
  // "index.html" when it has one.
  Lookup open(std::string_view path) const;

 private:
  Lookup openResolved(const std::string& hostPath) const;
  bool insideRoot(const std::string& realPath) const;

  std::string root_;        // real path, no trailing separator (empty: invalid)
  std::string rootPrefix_;  // root_ with a trailing separator
};

// A Content-Type for a file name.
std::string contentTypeFor(std::string_view path);

}  // namespace standin
