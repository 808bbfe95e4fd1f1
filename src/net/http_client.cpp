#include "net/http_client.h"

#include <libsoup/soup.h>

#include <cstring>
#include <cwctype>

#include "net/receive_watchdog.h"
#include "net/soup_handle.h"
#include "net/wininet_errors.h"
#include "platform/machine_profile.h"
#include "utility/log.h"
#include "utility/ustring.h"

namespace utility {
namespace {

const wchar_t* const kDefaultContentType = L"application/x-www-form-urlencoded";
const wchar_t* const kDefaultUserAgent =
    L"Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
    L"Chrome/69.0.2228.0 Safari/537.36";
constexpr std::size_t kMaxHostName = 255;

// Bytes a URL may not carry raw (spaces, controls, anything past ASCII) are
// sent percent-escaped, as a browser would.
std::string escapeUnsafeBytes(const std::string& url) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (unsigned char c : url) {
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool startsWithNoCase(const std::wstring& text, const wchar_t* prefix, std::size_t length) {
  if (text.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (std::towlower(text[i]) != std::towlower(prefix[i])) return false;
  }
  return true;
}

std::wstring messageOf(const GError* error) {
  return ustring::utf8ToWide(error && error->message ? error->message : "");
}

}  // namespace

struct CHttpClient::Request {
  SoupMessage* message = nullptr;
  GCancellable* cancellable = nullptr;
  GInputStream* body = nullptr;
  std::unique_ptr<net::ReceiveWatchdog> watchdog;
};

CHttpClient::CHttpClient() = default;

CHttpClient::~CHttpClient() {
  // Nothing can run on the handle any more (a downloader waits for its
  // call), so it goes whichever thread destroys the client.
  handle_.reset();
  if (uri_) g_uri_unref(uri_);
}

void CHttpClient::setHeader(const std::wstring& name, const std::wstring& value) {
  headers_[name] = value;
}

void CHttpClient::removeHeader(const std::wstring& name) { headers_.erase(name); }

bool CHttpClient::open(const std::wstring& url, IHttpClientSink* sink) {
  sink_ = sink;
  close();
  handle_ = std::make_unique<net::SoupHandle>();
  if (!handle_->open()) {
    handle_.reset();
    if (sink_) sink_->onHttpError(IHttpClientSink::kStageOpen, net::wininet::kInternalError);
    return false;
  }
  owner_ = std::this_thread::get_id();
  if (!crackUrl(url)) return false;
  return true;
}

bool CHttpClient::crackUrl(const std::wstring& url) {
  if (uri_) g_uri_unref(uri_);
  uri_ = nullptr;
  GError* error = nullptr;
  GUri* uri = g_uri_parse(escapeUnsafeBytes(ustring::wideToUtf8(url)).c_str(),
                          static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), &error);
  DWORD failure = 0;
  if (!uri) {
    failure = net::wininet::kInvalidUrl;
  } else if (g_strcmp0(g_uri_get_scheme(uri), "http") != 0 &&
             g_strcmp0(g_uri_get_scheme(uri), "https") != 0) {
    failure = net::wininet::kUnrecognizedScheme;
  } else if (!g_uri_get_host(uri) || !*g_uri_get_host(uri) ||
             std::strlen(g_uri_get_host(uri)) > kMaxHostName) {
    failure = net::wininet::kInvalidUrl;
  }
  if (failure) {
    VLOG(L"cannot split the address %ls: %ls", url.c_str(), messageOf(error).c_str());
    g_clear_error(&error);
    if (uri) g_uri_unref(uri);
    if (sink_) sink_->onHttpError(IHttpClientSink::kStageCrackUrl, failure);
    return false;
  }
  uri_ = uri;
  secure_ = startsWithNoCase(url, L"https://", 8);
  hostName_ = ustring::utf8ToWide(g_uri_get_host(uri));
  const int port = g_uri_get_port(uri);
  const bool https = g_strcmp0(g_uri_get_scheme(uri), "https") == 0;
  port_ = static_cast<std::uint16_t>(port > 0 ? port : https ? 443 : 80);
  std::string object = g_uri_get_path(uri);
  if (object.empty()) object = "/";
  if (g_uri_get_query(uri)) object += std::string("?") + g_uri_get_query(uri);
  if (g_uri_get_fragment(uri)) object += std::string("#") + g_uri_get_fragment(uri);
  objectPath_ = ustring::utf8ToWide(object);
  return true;
}

std::wstring CHttpClient::buildHeaderText() {
  if (!headers_.count(L"Content-Type")) headers_[L"Content-Type"] = kDefaultContentType;
  if (!headers_.count(L"User-Agent")) headers_[L"User-Agent"] = kDefaultUserAgent;
  std::wstring text;
  for (const auto& [name, value] : headers_) text += name + L": " + value + L"\r\n";
  return text;
}

void CHttpClient::beginRequest(Request& request) {
  request.cancellable = g_cancellable_new();
  {
    std::lock_guard<std::mutex> lock(requestMutex_);
    current_ = request.cancellable;
    if (isCancelRequested()) g_cancellable_cancel(request.cancellable);
  }
  request.watchdog = std::make_unique<net::ReceiveWatchdog>(
      request.cancellable, platform::scaledWaitMs("httpReceive", kReceiveTimeoutMs));
}

void CHttpClient::endRequest(Request& request) {
  if (request.body) {
    // An unread rest is dropped with the connection, not drained.
    g_input_stream_close(request.body, request.cancellable, nullptr);
    g_object_unref(request.body);
  }
  request.watchdog.reset();
  {
    std::lock_guard<std::mutex> lock(requestMutex_);
    current_ = nullptr;
  }
  if (request.message) g_object_unref(request.message);
  if (request.cancellable) g_object_unref(request.cancellable);
}

void CHttpClient::interruptRequest() {
  std::lock_guard<std::mutex> lock(requestMutex_);
  if (current_) g_cancellable_cancel(current_);
}

bool CHttpClient::sendRequest() {
  if (!handle_ || !uri_) {
    if (sink_) sink_->onHttpError(IHttpClientSink::kStageConnect, ERROR_INVALID_HANDLE);
    return false;
  }
  net::SoupHandle::ContextScope scope(handle_->context());
  Request request;
  request.message = soup_message_new_from_uri(SOUP_METHOD_GET, uri_);
  if (!request.message) {
    if (sink_) sink_->onHttpError(IHttpClientSink::kStageConnect, net::wininet::kInvalidUrl);
    return false;
  }
  buildHeaderText();
  SoupMessageHeaders* sent = soup_message_get_request_headers(request.message);
  for (const auto& [name, value] : headers_) {
    soup_message_headers_append(sent, ustring::wideToUtf8(name).c_str(),
                                ustring::wideToUtf8(value).c_str());
  }
  if (!headers_.count(L"Accept")) soup_message_headers_append(sent, "Accept", "*/*");
  handle_->tls().clearRefused();
  handle_->tls().attach(request.message);

  beginRequest(request);
  GError* error = nullptr;
  request.body =
      soup_session_send(handle_->session(), request.message, request.cancellable, &error);
  bool ok = false;
  if (!request.body) {
    const DWORD code = net::wininet::fromGError(
        error, {request.watchdog->timedOut(), handle_->tls().refusedErrors()});
    VLOG(L"send request error %d, %ls", code, messageOf(error).c_str());
    g_clear_error(&error);
    if (sink_) sink_->onHttpError(IHttpClientSink::kStageSend, code);
  } else {
    ok = readBody(request);
  }
  endRequest(request);
  return ok;
}

bool CHttpClient::readBody(Request& request) {
  const DWORD status = soup_message_get_status(request.message);
  if (status == 0) {
    if (sink_) sink_->onHttpError(IHttpClientSink::kStageStatus, net::wininet::kHeaderNotFound);
    return false;
  }
  // Chunked and close-delimited answers have no length; a real 0 has one.
  SoupMessageHeaders* received = soup_message_get_response_headers(request.message);
  const std::int64_t length =
      soup_message_headers_get_encoding(received) == SOUP_ENCODING_CONTENT_LENGTH
          ? soup_message_headers_get_content_length(received)
          : -1;
  if (sink_ && !sink_->onHttpRecvHeader(length, status)) return false;
  VLOG_AS("utility::CHttpClient::sendRequest", L"total %lld", static_cast<long long>(length));

  buffer_.resize(kReadChunk);
  for (;;) {
    GError* error = nullptr;
    const gssize n = g_input_stream_read(request.body, buffer_.data(), buffer_.size(),
                                         request.cancellable, &error);
    request.watchdog->progressed();
    if (n < 0) {
      VLOG(L"read error %d, %ls",
           net::wininet::fromGError(error, {request.watchdog->timedOut(), {}}),
           messageOf(error).c_str());
      g_clear_error(&error);
      return false;
    }
    if (n == 0) {
      if (sink_) sink_->onHttpComplete();
      return true;
    }
    if (sink_ && !sink_->onHttpData(buffer_.data(), static_cast<std::uint32_t>(n))) return false;
  }
}

void CHttpClient::close() {
  if (!handle_) return;
  if (std::this_thread::get_id() != owner_) {
    VLOG(L"close from another thread: the request is interrupted");
    interruptRequest();
    return;
  }
  handle_.reset();
}

}  // namespace utility
