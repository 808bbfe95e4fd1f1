// utility::CHttpDownloader: the second HTTP stack's downloads, a file (fresh
// or resumed with a Range request) or memory, with a cancel token that
// another thread may set through cancel().
//
//   utility::CHttpDownloader downloader;               // long-lived
//   bool ok = downloader.download2file(url, path, &progressSink, true);
//   // from another thread, at shutdown:
//   downloader.cancel();
//
// One worker thread downloads at a time. A cancel stays in force (later
// downloads into memory fail at once) until the next download2file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "net/http_client.h"
#include "net/http_download_sink.h"

namespace utility {

class CHttpDownloader : public CHttpClient {
 public:
  using IHttpDownloadSink = utility::IHttpDownloadSink;

  static constexpr std::uint32_t kCancelWaitMs = 2000;

  CHttpDownloader() = default;
  ~CHttpDownloader() override;

  // Downloads `url` into the file at `path` (a Windows path). With `resume`
  // an existing file is continued from its size. A partial file stays on
  // disk after a failure so that a later resume continues it.
  bool download2file(const std::wstring& url, const std::wstring& path,
                     IHttpDownloadSink* progress, bool resume);
  // Appends the body of a 2xx answer to `out`; on failure `out` is unchanged.
  bool download2mem(std::string& out, const std::wstring& url);

  // Sets the cancel token, interrupts the request in progress and waits up to
  // 2,000 ms for the downloading call to return. Callable from any thread.
  void cancel();

  // The cancel token, for a libcurl fall-back of the same download
  // (ZKCurlDownloader takes it).
  const std::atomic<bool>& cancelToken() const { return cancelRequested_; }
  std::int64_t startOffset() const { return startOffset_; }

 protected:
  bool isCancelRequested() const override { return cancelRequested_.load(); }

 private:
  bool run(const std::wstring& url, IHttpClientSink& sink);
  void enterCall(bool clearCancel);
  void leaveCall();

  std::atomic<bool> cancelRequested_{false};
  std::int64_t startOffset_ = 0;

  std::mutex callMutex_;
  std::condition_variable callEnded_;
  bool inCall_ = false;
  std::thread::id caller_;
};

}  // namespace utility
