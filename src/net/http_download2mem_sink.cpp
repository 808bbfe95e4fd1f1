#include "net/http_download2mem_sink.h"

namespace utility {

bool CHttpDownload2MemSink::onHttpData(const char* data, std::uint32_t length) {
  if (cancel_.load()) return false;
  out_.append(data, length);
  return true;
}

}  // namespace utility
