// Streams a response body from a file or from memory through cpp-httplib's
// content provider, applying the body faults (cut, stall-at, throttle,
// chunked). Reads are large and go through one buffer per worker thread,
// so a big download costs no allocation per chunk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <httplib.h>

#include "fault_rules.h"
#include "file_tree.h"

namespace standin {

class BodySource {
 public:
  virtual ~BodySource() = default;
  virtual std::uint64_t size() const = 0;
  // Reads up to `length` bytes at `offset`; returns the count, or -1.
  virtual long long readAt(std::uint64_t offset, char* buffer, std::size_t length) const = 0;
};

std::shared_ptr<const BodySource> fileBody(std::shared_ptr<OpenFile> file);
std::shared_ptr<const BodySource> memoryBody(std::string bytes);

struct BodyPlan {
  std::shared_ptr<const BodySource> source;
  std::uint64_t start = 0;   // first byte of the source to send
  std::uint64_t length = 0;  // bytes to send
  Faults faults;
};

// Makes `plan` the body of `response` (status and headers are the caller's).
void attachBody(httplib::Response& response, BodyPlan plan, const std::string& contentType);

// What the current worker thread's response has sent so far; read by the
// request log once cpp-httplib has written (or abandoned) the response.
struct SendTally {
  bool streamed = false;
  std::uint64_t planned = 0;
  std::uint64_t sent = 0;
};
SendTally& currentSendTally();

}  // namespace standin
