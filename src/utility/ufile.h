// File and folder helpers (utility::ufile) on Windows paths. Failures are
// return values and log lines under the helper's qualified name.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/mapped_file.h"
#include "platform/win_constants.h"

namespace utility::ufile {

bool isExist(const std::wstring& path);
bool makeDir(const std::wstring& path);  // all missing levels; an existing folder succeeds
bool moveFile(const std::wstring& from, const std::wstring& to, DWORD flags);
bool removeFile(const std::wstring& path);
std::wstring getModuleDir();   // the executable's folder, ending with "\"
std::wstring getModulePath();  // GetModuleFileNameW into 260 units
std::wstring getAppDataDir();  // no trailing separator
std::wstring getParentDir(const std::wstring& path);
std::wstring getExtension(const std::wstring& path);
std::wstring getFileName(const std::wstring& path, bool withExtension);
bool getFileSize(const std::wstring& path, std::uint64_t& size);

// A file handle (CreateFileW). All files are plain files.
class File {
 public:
  bool openRead(const std::wstring& path);  // existing file; fails when its 32-bit size is invalid
  std::uint32_t read(void* buffer, std::uint32_t size);  // bytes read, 0 on failure
  bool openReadWrite(const std::wstring& path, bool create);  // OPEN_ALWAYS or OPEN_EXISTING
  bool create(const std::wstring& path);                      // CREATE_ALWAYS
  bool write(const void* data, std::uint32_t size);           // true when every byte was written
  bool seekToEnd();
  void close();
  bool isOpen() const { return file_.isOpen(); }

 private:
  platform::File file_;
};

// A read-only view of a whole file. Files of 4 GiB or more, whose size does
// not fit the 32-bit size, are refused.
class MappedFile {
 public:
  ~MappedFile() { close(); }
  bool open(const std::wstring& path);  // a size of 0 succeeds without a view
  const std::uint8_t* data() const { return view_.data(); }
  std::uint32_t size() const { return size_; }
  void close();

 private:
  platform::File file_;
  platform::FileView view_;
  std::uint32_t size_ = 0;
};

}  // namespace utility::ufile
