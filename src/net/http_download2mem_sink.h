// utility::CHttpDownload2MemSink: appends a successful answer's body to a
// string; any status outside 200 to 299 stops the request.
#pragma once

#include <atomic>
#include <string>

#include "net/http_client_sink.h"

namespace utility {

class CHttpDownload2MemSink : public IHttpClientSink {
 public:
  CHttpDownload2MemSink(std::string& out, const std::atomic<bool>& cancel)
      : out_(out), cancel_(cancel) {}

  void onHttpError(int, DWORD) override {}
  bool onHttpRecvHeader(std::int64_t, DWORD statusCode) override {
    return statusCode >= 200 && statusCode <= 299;
  }
  bool onHttpData(const char* data, std::uint32_t length) override;
  void onHttpComplete() override {}

 private:
  std::string& out_;
  const std::atomic<bool>& cancel_;
};

}  // namespace utility
