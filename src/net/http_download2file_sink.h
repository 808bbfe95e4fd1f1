// utility::CHttpDownload2FileSink: writes an answer's body into a file,
// from its start or, for a resumed download, after the bytes already there;
// reports progress and records the first failure for diagnostics.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "net/http_client_sink.h"
#include "net/http_download_sink.h"
#include "utility/ufile.h"

namespace utility {

class CHttpDownload2FileSink : public IHttpClientSink {
 public:
  static constexpr std::int64_t kAssumedTotal = 0xA00000;  // 10 MiB, for progress only
  static constexpr int kNoFailure = 9999;

  CHttpDownload2FileSink(const std::wstring& path, const std::atomic<bool>& cancel,
                         IHttpDownloadSink* progress, std::int64_t startOffset);

  void onHttpError(int stage, DWORD code) override;
  bool onHttpRecvHeader(std::int64_t contentLength, DWORD statusCode) override;
  bool onHttpData(const char* data, std::uint32_t length) override;
  void onHttpComplete() override;

  void closeFile() { file_.close(); }
  std::int64_t received() const { return received_; }
  std::int64_t total() const { return total_; }
  int failureStage() const { return failureStage_; }
  DWORD failureCode() const { return failureCode_; }

 private:
  bool createFile();
  bool continueFile();
  void recordFailure(int stage, DWORD code);

  utility::ufile::File file_;
  std::wstring path_;
  const std::atomic<bool>& cancel_;
  IHttpDownloadSink* progress_;
  std::int64_t received_ = 0;
  std::int64_t total_ = 0;
  std::int64_t startOffset_;
  int failureStage_ = kNoFailure;
  DWORD failureCode_ = 0;
};

}  // namespace utility
