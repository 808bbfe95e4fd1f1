#include "net/http_download2file_sink.h"

#include "platform/last_error.h"
#include "utility/log.h"

namespace utility {
namespace {

constexpr DWORD kPartialContent = 206;
// The file is opened as part of the header step and logs under its name.
constexpr const char* kHeaderStep = "utility::CHttpDownload2FileSink::onHttpRecvHeader";

}  // namespace

CHttpDownload2FileSink::CHttpDownload2FileSink(const std::wstring& path,
                                               const std::atomic<bool>& cancel,
                                               IHttpDownloadSink* progress,
                                               std::int64_t startOffset)
    : path_(path), cancel_(cancel), progress_(progress), startOffset_(startOffset) {}

void CHttpDownload2FileSink::recordFailure(int stage, DWORD code) {
  failureStage_ = stage;
  failureCode_ = code;
}

void CHttpDownload2FileSink::onHttpError(int stage, DWORD code) {
  file_.close();
  VLOG(L"onHttpErro %d, %d", stage, code);
  recordFailure(stage, code);
}

bool CHttpDownload2FileSink::onHttpRecvHeader(std::int64_t contentLength, DWORD statusCode) {
  if (statusCode < 200 || statusCode > 299) {
    VLOG(L"onHttpErro status = %d", statusCode);
    if (failureStage_ == kNoFailure) recordFailure(-1, statusCode);
    return false;
  }
  total_ = contentLength > 0 ? contentLength : kAssumedTotal;
  received_ = 0;
  if (startOffset_ > 0 && statusCode != kPartialContent) {
    // The server ignored the range and sends the whole file: appending it
    // would corrupt the download, so the file starts again.
    VLOG(L"range ignored (status %d), the download restarts from 0", statusCode);
    startOffset_ = 0;
  }
  return startOffset_ > 0 ? continueFile() : createFile();
}

bool CHttpDownload2FileSink::createFile() {
  if (file_.create(path_)) return true;
  const DWORD error = platform::getLastError();
  VLOG_AS(kHeaderStep, L"create file error; filename %ls lasterror:%d", path_.c_str(), error);
  recordFailure(-2, error);
  return false;
}

bool CHttpDownload2FileSink::continueFile() {
  received_ = startOffset_;
  total_ += startOffset_;
  if (file_.openReadWrite(path_, true) && file_.seekToEnd()) return true;
  const DWORD error = platform::getLastError();
  file_.close();
  VLOG_AS(kHeaderStep, L"onHttpErro create file error  %d", error);
  recordFailure(-2, error);
  return false;
}

bool CHttpDownload2FileSink::onHttpData(const char* data, std::uint32_t length) {
  if (cancel_.load()) return false;
  received_ += length;
  if (progress_ && !progress_->onDownloadProgress(data, length, received_, total_)) return false;
  if (file_.write(data, length)) return true;
  const DWORD error = platform::getLastError();
  VLOG(L"write file error %d", error);
  recordFailure(-3, error);
  return false;
}

void CHttpDownload2FileSink::onHttpComplete() { file_.close(); }

}  // namespace utility
