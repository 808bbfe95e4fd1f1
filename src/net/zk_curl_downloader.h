// HTTP(S) over libcurl's easy interface: GET into memory, POST a JSON body,
// GET into a file with progress. Each call owns its own easy handle, so the
// object is a cheap stack value. All calls block the calling worker thread.
//
// TLS is verified (system CA store plus the machine profile's trustedCA);
// only certificate date errors are tolerated. A transfer stops early when
// the cancel token given to the downloader is set (Linux cannot kill the
// thread that runs it).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ZKCurlDownloader {
 public:
  // (percent 0..99, bytes received so far, total bytes expected)
  using ProgressFunc = std::function<void(int, double, double)>;

  // `cancel` (may be null) is checked during every transfer; when it turns
  // true the transfer is aborted and the call fails.
  explicit ZKCurlDownloader(const std::atomic<bool>* cancel = nullptr) : cancel_(cancel) {}

  bool downloadMemory(const std::string& url, std::string& response,
                      const std::vector<std::string>& extraHeaders);
  bool postRequest(const std::string& body, std::string& response, const std::string& url,
                   const std::vector<std::string>& extraHeaders);
  bool downloadFile(const std::wstring& path, const std::string& url, ProgressFunc progress);

  // libcurl's global initialisation, once per process, at start-up.
  // Idempotent and thread-safe; every operation also makes sure of it.
  static void globalInit();

  // What the transfer-info callback of one operation looks at.
  struct ProgressContext {
    std::uint32_t lastReportTick = 0;  // tick of the last report
    ProgressFunc progress;             // may be empty
    const std::atomic<bool>* cancel = nullptr;
    bool reports = false;              // false: only the cancel token is watched
  };

  // libcurl callbacks of downloadFile (public for libcurl's C interface).
  static std::size_t writeFileCallback(char* data, std::size_t size, std::size_t count,
                                       void* file);
  static int progressCallback(void* context, double total, double received, double, double);

 private:
  const std::atomic<bool>* cancel_;
};
