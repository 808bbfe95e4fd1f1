#include "json_lines.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace standin {

JsonLinesFile::~JsonLinesFile() {
  if (file_) std::fclose(file_);
}

bool JsonLinesFile::open(const std::string& path) {
  if (path.empty()) return true;
  file_ = std::fopen(path.c_str(), "ae");
  return file_ != nullptr;
}

void JsonLinesFile::append(const rapidjson::Value& value) {
  if (!file_) return;
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  std::lock_guard lock(mutex_);
  std::fwrite(buffer.GetString(), 1, buffer.GetSize(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

std::string validUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, minimum = 0x10000;
    }
    bool ok = length > 0 && i + length <= bytes.size();
    std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; ok && k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      ok = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    ok = ok && code >= minimum && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    if (ok) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return out;
}

rapidjson::Value jsonString(std::string_view text, rapidjson::Document::AllocatorType& allocator) {
  const std::string valid = validUtf8(text);
  rapidjson::Value value;
  value.SetString(valid.data(), static_cast<rapidjson::SizeType>(valid.size()), allocator);
  return value;
}

}  // namespace standin
