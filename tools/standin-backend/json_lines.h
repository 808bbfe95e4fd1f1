// Appends one JSON document per line to a file, safely from many threads.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include <rapidjson/document.h>

namespace standin {

class JsonLinesFile {
 public:
  JsonLinesFile() = default;
  ~JsonLinesFile();
  JsonLinesFile(const JsonLinesFile&) = delete;
  JsonLinesFile& operator=(const JsonLinesFile&) = delete;

  // Opens `path` for appending; an empty path leaves the file closed (every
  // append is then dropped). Returns false when the file cannot be opened.
  bool open(const std::string& path);
  bool isOpen() const { return file_ != nullptr; }

  // Writes the value as one compact line and flushes it at once, so that a
  // reader sees complete lines only.
  void append(const rapidjson::Value& value);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

// Text from the network may be any bytes; JSON strings must be UTF-8.
// Invalid sequences become U+FFFD.
std::string validUtf8(std::string_view bytes);

// A JSON string value (copied, made valid UTF-8).
rapidjson::Value jsonString(std::string_view text, rapidjson::Document::AllocatorType& allocator);

}  // namespace standin
