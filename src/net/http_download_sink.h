// Progress of utility::CHttpDownloader::download2file, on the downloading
// thread (a receiver that updates a window posts to the UI thread).
#pragma once

#include <cstdint>

namespace utility {

class IHttpDownloadSink {
 public:
  // A chunk about to be written; `received` counts from the start of the
  // file (a resumed download starts at the existing size), `total` is the
  // whole file (10 MiB assumed when the server sends no length). False
  // stops the download.
  virtual bool onDownloadProgress(const char* data, std::uint32_t length, std::int64_t received,
                                  std::int64_t total) = 0;

 protected:
  virtual ~IHttpDownloadSink() = default;
};

}  // namespace utility
