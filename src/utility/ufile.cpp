#include "utility/ufile.h"

#include "platform/known_folders.h"
#include "platform/last_error.h"
#include "utility/log.h"

namespace utility::ufile {
namespace {

// GetModuleFileNameW with a 260-unit buffer keeps 259 units and the terminator.
constexpr size_t kModulePathUnits = 259;

constexpr std::uint32_t kInvalidFileSize = 0xFFFFFFFFu;

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The position of the last "\", or of the last "/" when there is no backslash.
size_t lastSeparator(const std::wstring& path) {
  size_t at = path.rfind(L'\\');
  return at != std::wstring::npos ? at : path.rfind(L'/');
}

}  // namespace

bool isExist(const std::wstring& path) { return platform::pathExists(path); }

bool makeDir(const std::wstring& path) {
  DWORD error = platform::createDirectoryTree(path);
  if (error == ERROR_SUCCESS || error == ERROR_ALREADY_EXISTS) return true;
  VLOG(L"make dir failed! error = %d.", static_cast<int>(error));
  return false;
}

bool moveFile(const std::wstring& from, const std::wstring& to, DWORD flags) {
  if (platform::moveFile(from, to, flags)) return true;
  DWORD error = platform::getLastError();
  VLOG(L"move file from [ %ls ] to [ %ls ] flag = %d failed! error = %d.", from.c_str(),
       to.c_str(), static_cast<int>(flags), static_cast<int>(error));
  return false;
}

bool removeFile(const std::wstring& path) {
  if (platform::deleteFile(path)) return true;
  DWORD error = platform::getLastError();
  VLOG(L"removeFile file from [ %ls ] error = %d.", path.c_str(), static_cast<int>(error));
  return false;
}

std::wstring getModulePath() {
  std::wstring path = platform::modulePath();
  if (path.size() > kModulePathUnits) path.resize(kModulePathUnits);
  return path;
}

std::wstring getModuleDir() { return getParentDir(getModulePath()); }

std::wstring getAppDataDir() {
  std::wstring folder = platform::appDataFolder();
  while (!folder.empty() && isSeparator(folder.back())) folder.pop_back();
  return folder;
}

std::wstring getParentDir(const std::wstring& path) {
  if (path.size() <= 1) return {};
  std::wstring copy = path;
  if (isSeparator(copy.back())) copy.pop_back();
  size_t at = lastSeparator(copy);
  if (at == std::wstring::npos) return {};
  return copy.substr(0, at + 1);
}

std::wstring getExtension(const std::wstring& path) {
  size_t dot = path.rfind(L'.');
  return dot == std::wstring::npos ? std::wstring() : path.substr(dot);
}

std::wstring getFileName(const std::wstring& path, bool withExtension) {
  size_t at = lastSeparator(path);
  if (at == std::wstring::npos) return {};
  std::wstring name = path.substr(at + 1);
  if (!withExtension) {
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
  }
  return name;
}

bool getFileSize(const std::wstring& path, std::uint64_t& size) {
  return platform::fileSize(path, size);
}

bool File::openRead(const std::wstring& path) {
  if (!file_.open(path, false, platform::Disposition::OpenExisting)) return false;
  std::uint64_t size = 0;
  if (!file_.size(size) || static_cast<std::uint32_t>(size) == kInvalidFileSize) {
    DWORD error = platform::getLastError();
    file_.close();
    platform::setLastError(error == ERROR_SUCCESS ? ERROR_INVALID_DATA : error);
    return false;
  }
  return true;
}

std::uint32_t File::read(void* buffer, std::uint32_t size) { return file_.read(buffer, size); }

bool File::openReadWrite(const std::wstring& path, bool create) {
  auto disposition = create ? platform::Disposition::OpenAlways : platform::Disposition::OpenExisting;
  return file_.open(path, true, disposition);
}

bool File::create(const std::wstring& path) {
  return file_.open(path, true, platform::Disposition::CreateAlways);
}

bool File::write(const void* data, std::uint32_t size) { return file_.write(data, size); }

bool File::seekToEnd() { return file_.seekToEnd(); }

void File::close() { file_.close(); }

bool MappedFile::open(const std::wstring& path) {
  close();
  if (!file_.open(path, false, platform::Disposition::OpenExisting)) return false;
  std::uint64_t size = 0;
  if (!file_.size(size) || size >= kInvalidFileSize) {
    close();
    return false;
  }
  size_ = static_cast<std::uint32_t>(size);
  if (size_ == 0) return true;
  if (!view_.map(file_, size_)) {
    close();
    return false;
  }
  return true;
}

void MappedFile::close() {
  view_.unmap();
  file_.close();
  size_ = 0;
}

}  // namespace utility::ufile
