// Files and folders addressed by Windows paths. Failures return false (or an
// error code) and set the thread's last error to the Windows code.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_constants.h"

namespace platform {

bool pathExists(const std::wstring& path);  // a file or a folder
bool isDirectory(const std::wstring& path);

// Creates the folder and every missing level. Returns ERROR_SUCCESS,
// ERROR_ALREADY_EXISTS when the folder was already there, or the error.
DWORD createDirectoryTree(const std::wstring& path);

// MoveFileEx: flags MOVEFILE_REPLACE_EXISTING and MOVEFILE_COPY_ALLOWED.
bool moveFile(const std::wstring& from, const std::wstring& to, DWORD flags);
bool deleteFile(const std::wstring& path);
bool fileSize(const std::wstring& path, std::uint64_t& size);

// Reads a whole file (at most maxBytes).
bool readFile(const std::wstring& path, std::string& bytes,
              std::uint64_t maxBytes = UINT64_MAX);
// Replaces a file's content atomically (a temporary beside it, then rename).
bool writeFileAtomically(const std::wstring& path, const std::string& bytes);

enum class Disposition {
  CreateAlways,  // create or truncate
  CreateNew,     // fail when it exists
  OpenExisting,  // fail when it is missing
  OpenAlways,    // open or create
};

// An open file, as a Windows file handle. Movable, closes itself.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool open(const std::wstring& path, bool write, Disposition disposition);
  bool isOpen() const { return fd_ >= 0; }
  void close();

  // Returns the bytes read (0 at the end or on failure).
  std::uint32_t read(void* buffer, std::uint32_t size);
  bool write(const void* data, std::uint64_t size);  // true when every byte was written
  bool seekToEnd();
  bool seek(std::int64_t offset, int whence);  // SEEK_SET, SEEK_CUR, SEEK_END
  bool size(std::uint64_t& out) const;
  bool truncate();  // cuts the file at the current position
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace platform
