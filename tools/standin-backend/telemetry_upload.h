// Checks a telemetry upload (POST /collection/biz/upload) and describes it
// as one record line.
//
// The client signs each batch: the MD5 of "xrxnjccg*gdovrfekb=", the
// "timestamp" header's decimal text and (number of events x 1024) in
// decimal, as lower-case hex; the "signature" header is its last 8
// characters.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <rapidjson/document.h>

namespace standin {

struct UploadRequest {
  std::optional<std::string> timestamp;
  std::optional<std::string> signature;
  std::optional<std::string> contentType;
  std::optional<std::string> userAgent;
  std::string body;
};

// The 8-character signature of a batch of `eventCount` events.
std::string batchSignature(std::string_view timestampText, std::size_t eventCount);

// The record of one upload: {"headers": {...}, "body": <parsed JSON or null>,
// "events": N, "valid": bool, "reason": text, "expectedSignature": text}.
// A body that is not JSON is kept as text in "rawBody".
rapidjson::Document describeUpload(const UploadRequest& upload);

}  // namespace standin
