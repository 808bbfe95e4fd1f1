#include "net/http_downloader.h"

#include <chrono>

#include "net/http_download2file_sink.h"
#include "net/http_download2mem_sink.h"
#include "platform/machine_profile.h"
#include "utility/log.h"
#include "utility/ufile.h"

namespace utility {

CHttpDownloader::~CHttpDownloader() {
  cancel();
  // A call still running on another thread uses this object: wait for it
  // (an interrupted request returns at once), never free it under its feet.
  std::unique_lock<std::mutex> lock(callMutex_);
  if (caller_ != std::this_thread::get_id()) callEnded_.wait(lock, [this] { return !inCall_; });
}

void CHttpDownloader::enterCall(bool clearCancel) {
  std::lock_guard<std::mutex> lock(callMutex_);
  // Cleared on entry, so that a cancel that comes at any later moment of
  // this call is honoured.
  if (clearCancel) cancelRequested_.store(false);
  inCall_ = true;
  caller_ = std::this_thread::get_id();
}

void CHttpDownloader::leaveCall() {
  {
    std::lock_guard<std::mutex> lock(callMutex_);
    inCall_ = false;
  }
  callEnded_.notify_all();
}

bool CHttpDownloader::run(const std::wstring& url, IHttpClientSink& sink) {
  close();
  const bool ok = open(url, &sink) && sendRequest();
  close();
  return ok;
}

bool CHttpDownloader::download2file(const std::wstring& url, const std::wstring& path,
                                    IHttpDownloadSink* progress, bool resume) {
  enterCall(true);
  close();
  removeHeader(L"Range");
  startOffset_ = 0;
  if (resume) {
    std::uint64_t size = 0;
    if (!ufile::getFileSize(path, size)) size = 0;
    startOffset_ = static_cast<std::int64_t>(size);
    VLOG(L"start size %lld", static_cast<long long>(startOffset_));
    if (startOffset_ > 0) setHeader(L"Range", L"bytes=" + std::to_wstring(startOffset_) + L"-");
  }
  CHttpDownload2FileSink sink(path, cancelRequested_, progress, startOffset_);
  const bool ok = run(url, sink);
  sink.closeFile();
  leaveCall();
  return ok;
}

bool CHttpDownloader::download2mem(std::string& out, const std::wstring& url) {
  enterCall(false);
  // Collected apart and appended only on success, so that a body cut short
  // never leaves half an answer in the caller's string.
  std::string body;
  CHttpDownload2MemSink sink(body, cancelRequested_);
  const bool ok = run(url, sink);
  if (ok) out += body;
  leaveCall();
  return ok;
}

void CHttpDownloader::cancel() {
  cancelRequested_.store(true);
  interruptRequest();
  std::unique_lock<std::mutex> lock(callMutex_);
  if (!inCall_ || caller_ == std::this_thread::get_id()) return;
  const auto limit =
      std::chrono::milliseconds(platform::scaledWaitMs("downloaderCancel", kCancelWaitMs));
  if (!callEnded_.wait_for(lock, limit, [this] { return !inCall_; })) {
    VLOG(L"the download did not end within %d ms", static_cast<int>(limit.count()));
  }
}

}  // namespace utility
