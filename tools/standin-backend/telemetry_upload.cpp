#include "telemetry_upload.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>

#include "json_lines.h"

namespace standin {
namespace {

constexpr std::string_view kSigningPrefix = "xrxnjccg*gdovrfekb=";

std::string md5Hex(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0x0F]);
  }
  return hex;
}

bool isDecimal(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

rapidjson::Value optionalString(const std::optional<std::string>& text,
                                rapidjson::Document::AllocatorType& allocator) {
  return text ? jsonString(*text, allocator) : rapidjson::Value(rapidjson::kNullType);
}

struct Verdict {
  bool valid = false;
  std::string reason;
  std::string expected;
};

Verdict judge(const UploadRequest& upload, const rapidjson::Document& body, bool parsed) {
  if (!parsed) return {false, "body is not JSON", {}};
  if (!body.IsArray()) return {false, "body is not a JSON array", {}};
  if (!upload.timestamp) return {false, "no timestamp header", {}};
  if (!isDecimal(*upload.timestamp)) return {false, "timestamp is not a decimal number", {}};
  Verdict verdict;
  verdict.expected = batchSignature(*upload.timestamp, body.Size());
  if (!upload.signature) {
    verdict.reason = "no signature header";
  } else if (*upload.signature != verdict.expected) {
    verdict.reason = "signature mismatch";
  } else {
    verdict.valid = true;
    verdict.reason = "signature matches";
  }
  return verdict;
}

}  // namespace

std::string batchSignature(std::string_view timestampText, std::size_t eventCount) {
  std::string signingText(kSigningPrefix);
  signingText += timestampText;
  signingText += std::to_string(static_cast<unsigned long long>(eventCount) * 1024);
  const std::string hex = md5Hex(signingText);
  return hex.size() >= 8 ? hex.substr(hex.size() - 8) : std::string();
}

rapidjson::Document describeUpload(const UploadRequest& upload) {
  rapidjson::Document body;
  body.Parse<rapidjson::kParseValidateEncodingFlag>(upload.body.data(), upload.body.size());
  const bool parsed = !body.HasParseError();
  const Verdict verdict = judge(upload, body, parsed);

  rapidjson::Document record(rapidjson::kObjectType);
  auto& allocator = record.GetAllocator();
  rapidjson::Value headers(rapidjson::kObjectType);
  headers.AddMember("timestamp", optionalString(upload.timestamp, allocator), allocator);
  headers.AddMember("signature", optionalString(upload.signature, allocator), allocator);
  headers.AddMember("content-type", optionalString(upload.contentType, allocator), allocator);
  headers.AddMember("user-agent", optionalString(upload.userAgent, allocator), allocator);
  record.AddMember("headers", headers, allocator);

  if (parsed) {
    rapidjson::Value copy(body, allocator);
    record.AddMember("body", copy, allocator);
  } else {
    record.AddMember("body", rapidjson::Value(rapidjson::kNullType), allocator);
    record.AddMember("rawBody", jsonString(upload.body, allocator), allocator);
  }
  const bool counted = parsed && body.IsArray();
  record.AddMember("events", counted ? rapidjson::Value(body.Size()) : rapidjson::Value(),
                   allocator);
  record.AddMember("valid", verdict.valid, allocator);
  record.AddMember("reason", jsonString(verdict.reason, allocator), allocator);
  record.AddMember("expectedSignature",
                   verdict.expected.empty() ? rapidjson::Value()
                                            : jsonString(verdict.expected, allocator),
                   allocator);
  return record;
}

}  // namespace standin
