#include "net/zk_curl_downloader.h"

#include <curl/curl.h>

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "net/curl_tls.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/machine_profile.h"
#include "utility/log.h"
#include "utility/ufile.h"
#include "utility/ustring.h"

namespace {

const char* const kFormContentType = "Content-Type: application/x-www-form-urlencoded";
const char* const kJsonContentType = "Content-Type:application/json;charset=UTF-8";
const char* const kUserAgent =
    "User-Agent: Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/69.0.2228.0 Safari/537.36";

constexpr std::uint32_t kConnectTimeoutMs = 8000;
constexpr std::uint32_t kMemoryTimeoutMs = 8000;
constexpr long kMaxFileRedirects = 5;
constexpr curl_off_t kMaxFileSpeed = 0x1400000;  // 20 MiB/s
constexpr std::uint32_t kReportIntervalMs = 1000;

// The response of a memory request, grown with realloc.
struct MemoryBuffer {
  char* data = nullptr;
  std::uint32_t size = 0;
  ~MemoryBuffer() { std::free(data); }
};

// An easy handle and its header list; the list is freed after the handle.
struct EasyHandle {
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  ~EasyHandle() {
    if (curl) curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
  }
  void addHeader(const std::string& line) { headers = curl_slist_append(headers, line.c_str()); }
};

std::size_t appendToBuffer(const char* logName, char* data, std::size_t size, std::size_t count,
                           MemoryBuffer* buffer) {
  const std::size_t n = size * count;
  if (n == 0) return 0;
  const std::uint64_t wanted = static_cast<std::uint64_t>(buffer->size) + n;
  // Past the 32-bit count, ask for a size no allocator grants.
  const std::size_t request = wanted > UINT32_MAX ? SIZE_MAX : static_cast<std::size_t>(wanted);
  void* grown = std::realloc(buffer->data, request);
  if (!grown) {
    VLOG_AS(logName, L"not enough memory error %d", platform::setLastErrorFromErrno());
    return 0;  // libcurl ends the transfer with a write error
  }
  buffer->data = static_cast<char*>(grown);
  std::copy(data, data + n, buffer->data + buffer->size);
  buffer->size = static_cast<std::uint32_t>(wanted);
  return n;
}

std::size_t WriteMemoryCallback(char* data, std::size_t size, std::size_t count, void* buffer) {
  return appendToBuffer("WriteMemoryCallback", data, size, count,
                        static_cast<MemoryBuffer*>(buffer));
}

std::size_t WriteMemoryCallbackPost(char* data, std::size_t size, std::size_t count,
                                    void* buffer) {
  return appendToBuffer("WriteMemoryCallbackPost", data, size, count,
                        static_cast<MemoryBuffer*>(buffer));
}

// Called by libcurl during every transfer, at least about once a second
// even when nothing arrives: a set cancel token aborts the transfer.
int transferInfo(void* data, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t) {
  auto* context = static_cast<ZKCurlDownloader::ProgressContext*>(data);
  if (context->cancel && context->cancel->load()) return 1;
  if (!context->reports) return 0;
  return ZKCurlDownloader::progressCallback(context, static_cast<double>(total),
                                            static_cast<double>(received), 0, 0);
}

void setCommonOptions(CURL* curl, ZKCurlDownloader::ProgressContext& context) {
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // A sandbox (machine profile) never leaves the machine: no proxy from the
  // environment either.
  if (platform::machineProfile().active()) curl_easy_setopt(curl, CURLOPT_PROXY, "");
  net::curl_tls::applyVerification(curl);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, transferInfo);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &context);
}

void setHeaders(EasyHandle& handle, const char* contentType,
                const std::vector<std::string>& extraHeaders) {
  handle.addHeader(contentType);
  handle.addHeader(kUserAgent);
  for (const auto& line : extraHeaders) handle.addHeader(line);
  curl_easy_setopt(handle.curl, CURLOPT_HTTPHEADER, handle.headers);
}

// Steps 3 to 6 shared by the GET into memory and the POST.
bool performIntoMemory(const char* logName, CURL* curl, MemoryBuffer& buffer,
                       std::string& response) {
  const CURLcode code = curl_easy_perform(curl);
  if (code != CURLE_OK) {
    VLOG_AS(logName, L"curl download error %ls",
            utility::ustring::ansiToWide(curl_easy_strerror(code)).c_str());
    return false;
  }
  VLOG_AS(logName, L"curl download sucess %d", static_cast<int>(buffer.size));
  response.assign(buffer.size ? buffer.data : "", buffer.size);
  return true;
}

}  // namespace

void ZKCurlDownloader::globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool ZKCurlDownloader::downloadMemory(const std::string& url, std::string& response,
                                      const std::vector<std::string>& extraHeaders) {
  globalInit();
  EasyHandle handle;
  if (!handle.curl) {
    VLOG(L"curl init error");
    return false;
  }
  MemoryBuffer buffer;
  ProgressContext context;
  context.cancel = cancel_;
  CURL* curl = handle.curl;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteMemoryCallback);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &buffer);
  setCommonOptions(curl, context);
  setHeaders(handle, kFormContentType, extraHeaders);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(platform::scaledWaitMs("curlConnect", kConnectTimeoutMs)));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS,
                   static_cast<long>(platform::scaledWaitMs("curlMemory", kMemoryTimeoutMs)));
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  return performIntoMemory("ZKCurlDownloader::downloadMemory", curl, buffer, response);
}

bool ZKCurlDownloader::postRequest(const std::string& body, std::string& response,
                                   const std::string& url,
                                   const std::vector<std::string>& extraHeaders) {
  VLOG(L"ZKCurlDownloader::postRequest start");
  globalInit();
  EasyHandle handle;
  if (!handle.curl) {
    VLOG(L"curl init error");
    return false;
  }
  const std::string utf8Body = utility::ustring::ansiToUtf8(body);
  MemoryBuffer buffer;
  ProgressContext context;
  context.cancel = cancel_;
  CURL* curl = handle.curl;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteMemoryCallbackPost);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &buffer);
  setCommonOptions(curl, context);
  setHeaders(handle, kJsonContentType, extraHeaders);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, utf8Body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(utf8Body.size()));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(platform::scaledWaitMs("curlConnect", kConnectTimeoutMs)));
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  return performIntoMemory("ZKCurlDownloader::postRequest", curl, buffer, response);
}

bool ZKCurlDownloader::downloadFile(const std::wstring& path, const std::string& url,
                                    ProgressFunc progress) {
  VLOG(L"ZKCurlDownloader::downloadfile start");
  globalInit();
  EasyHandle handle;
  if (!handle.curl) {
    VLOG(L"curl init error");
    return false;
  }
  utility::ufile::File file;
  if (!file.create(path)) {
    VLOG(L"openfile error path : %ls. %d", path.c_str(), platform::getLastError());
    return false;
  }
  ProgressContext context;
  context.progress = std::move(progress);
  context.cancel = cancel_;
  context.reports = true;
  CURL* curl = handle.curl;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeFileCallback);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &file);
  setCommonOptions(curl, context);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxFileRedirects);
  setHeaders(handle, kFormContentType, {});
  curl_easy_setopt(curl, CURLOPT_MAX_RECV_SPEED_LARGE, kMaxFileSpeed);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());

  const CURLcode code = curl_easy_perform(curl);
  if (code != CURLE_OK) {
    VLOG(L"download error %ls", utility::ustring::utf8ToWide(curl_easy_strerror(code)).c_str());
  }
  file.close();
  if (code != CURLE_OK) {
    VLOG(L"curl download file error %ls",
         utility::ustring::ansiToWide(curl_easy_strerror(code)).c_str());
    return false;
  }
  VLOG(L"curl download  file sucess");
  return true;
}

std::size_t ZKCurlDownloader::writeFileCallback(char* data, std::size_t size, std::size_t count,
                                                void* file) {
  const std::size_t n = size * count;
  if (n > UINT32_MAX) return 0;
  return static_cast<utility::ufile::File*>(file)->write(data, static_cast<std::uint32_t>(n))
             ? n
             : 0;
}

int ZKCurlDownloader::progressCallback(void* data, double total, double received, double,
                                       double) {
  if (total > -0.1 && total < 0.1) return 0;  // the length is not known (yet)
  auto* context = static_cast<ProgressContext*>(data);
  const std::uint32_t now = platform::tickCount();
  if (now - context->lastReportTick <= kReportIntervalMs) return 0;
  context->lastReportTick = now;
  if (!context->progress) return 0;
  int percent = static_cast<int>(received / total * 100);
  if (percent > 99) percent = 99;
  context->progress(percent, received, total);
  return 0;
}
