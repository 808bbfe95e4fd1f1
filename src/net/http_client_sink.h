// What utility::CHttpClient tells about one request, in the order the calls
// arrive: an error (and nothing else), or the header, the body chunks and
// the end.
#pragma once

#include <cstdint>

#include "platform/win_constants.h"

namespace utility {

class IHttpClientSink {
 public:
  // Stages of a failure before the body.
  enum Stage {
    kStageOpen = 0,        // the session could not be made
    kStageCrackUrl = 1,    // the address could not be split
    kStageConnect = 2,     // the request could not be prepared for the host
    kStageSend = 6,        // the request could not be sent or had no answer
    kStageStatus = 7,      // the answer carried no status
  };

  // `code` is a Windows Internet error number (12002 time-out, 12007 name
  // not resolved, 12017 cancelled, 12029 cannot connect, 12045 invalid CA...).
  virtual void onHttpError(int stage, DWORD code) = 0;
  // `contentLength` is -1 when the answer has no length. False stops.
  virtual bool onHttpRecvHeader(std::int64_t contentLength, DWORD statusCode) = 0;
  // One chunk of the body (at most 32 KiB). False stops.
  virtual bool onHttpData(const char* data, std::uint32_t length) = 0;
  // The body has been read completely.
  virtual void onHttpComplete() = 0;

 protected:
  virtual ~IHttpClientSink() = default;
};

}  // namespace utility
