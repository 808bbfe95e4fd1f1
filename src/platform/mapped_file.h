// A read-only memory view of an open file (CreateFileMappingW with
// PAGE_READONLY and MapViewOfFile with FILE_MAP_READ).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files.h"

namespace platform {

class FileView {
 public:
  FileView() = default;
  ~FileView() { unmap(); }
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  // Maps the first `size` bytes (size > 0) of the open file. False with the
  // last error set when the file cannot be mapped.
  bool map(const File& file, std::uint64_t size);
  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(base_); }
  void unmap();

 private:
  void* base_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace platform
