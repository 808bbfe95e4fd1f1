// utility::CHttpClient: one HTTP GET at a time, in the shape of the Windows
// Internet API (open a handle, split the address, connect, send with the
// header text, query status and length, read 32 KiB chunks, close), streamed
// into a sink. Built on libsoup 3 with glib-networking, the desktop's own
// HTTP stack and proxy settings; it shares no code with the libcurl helper.
//
//   client.setHeader(L"Range", L"bytes=1000-");
//   if (client.open(url, &sink)) ok = client.sendRequest();
//   client.close();
//
// open, sendRequest and close run on one worker thread; the handle is
// private to that thread. Another thread stops a request through
// interruptRequest (the downloader's cancel).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/http_client_sink.h"

typedef struct _GCancellable GCancellable;
typedef struct _GUri GUri;

namespace net {
class SoupHandle;
}

namespace utility {

class CHttpClient {
 public:
  using IHttpClientSink = utility::IHttpClientSink;

  static constexpr std::uint32_t kReadChunk = 32768;
  static constexpr std::uint32_t kReceiveTimeoutMs = 15000;

  CHttpClient();
  virtual ~CHttpClient();
  CHttpClient(const CHttpClient&) = delete;
  CHttpClient& operator=(const CHttpClient&) = delete;

  // Header map edits; values stay for later requests on the same object.
  void setHeader(const std::wstring& name, const std::wstring& value);
  void removeHeader(const std::wstring& name);
  const std::map<std::wstring, std::wstring>& headers() const { return headers_; }

  // Opens the handle and splits the address (http or https, host of at most
  // 255 characters). Failures reach the sink's onHttpError (stage 0 or 1).
  bool open(const std::wstring& url, IHttpClientSink* sink);
  // One GET of the opened address; true when the body was read completely.
  bool sendRequest();
  // Closes the handle, if open. On another thread than the opening one it
  // only interrupts the request (the handle belongs to its thread).
  void close();

  // The header text of the next request: the defaults for Content-Type and
  // User-Agent are added to the map when missing, then every entry in map
  // order as "name: value\r\n".
  std::wstring buildHeaderText();

  const std::wstring& hostName() const { return hostName_; }
  std::uint16_t port() const { return port_; }
  const std::wstring& objectPath() const { return objectPath_; }
  bool isSecure() const { return secure_; }

 protected:
  // Stops the request in progress from any thread: connect, TLS, the wait
  // for the answer and reads return at once.
  void interruptRequest();
  // A derived class's cancel token; a request that starts while it is set
  // is interrupted at once.
  virtual bool isCancelRequested() const { return false; }

 private:
  struct Request;
  bool crackUrl(const std::wstring& url);
  bool readBody(Request& request);
  void beginRequest(Request& request);
  void endRequest(Request& request);

  std::unique_ptr<net::SoupHandle> handle_;  // the "Internet handle"
  std::thread::id owner_;
  std::wstring hostName_;
  std::uint16_t port_ = 0;
  std::wstring objectPath_;
  bool secure_ = false;
  IHttpClientSink* sink_ = nullptr;
  std::map<std::wstring, std::wstring> headers_;

  GUri* uri_ = nullptr;  // the opened address
  std::vector<char> buffer_;
  std::mutex requestMutex_;
  GCancellable* current_ = nullptr;  // the request in progress, under requestMutex_
};

}  // namespace utility
