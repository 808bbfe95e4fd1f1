#include "platform/mapped_file.h"

#include <sys/mman.h>

#include "platform/last_error.h"

namespace platform {

bool FileView::map(const File& file, std::uint64_t size) {
  unmap();
  if (!file.isOpen() || size == 0 || size > SIZE_MAX) {
    setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  void* base = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, file.fd(), 0);
  if (base == MAP_FAILED) {
    setLastErrorFromErrno();
    return false;
  }
  base_ = base;
  size_ = static_cast<std::size_t>(size);
  return true;
}

void FileView::unmap() {
  if (base_) munmap(base_, size_);
  base_ = nullptr;
  size_ = 0;
}

}  // namespace platform
