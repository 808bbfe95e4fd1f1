#include "report/upload_signature.h"

#include "config/md5_hex.h"
#include "platform/clock.h"

namespace report {
namespace {

constexpr const char* kSigningPrefix = "xrxnjccg*gdovrfekb=";
constexpr std::uint64_t kBytesPerEvent = 1024;
constexpr std::size_t kShortestDigest = 16;
constexpr std::size_t kSignatureLength = 8;

}  // namespace

std::uint64_t requestTimestamp() {
  return static_cast<std::uint64_t>(platform::unixSeconds()) * 1000 + platform::tickCount() % 1000;
}

std::string signingText(std::uint64_t timestamp, std::uint32_t eventCount) {
  return kSigningPrefix + std::to_string(timestamp) + std::to_string(eventCount * kBytesPerEvent);
}

bool uploadSignature(std::uint64_t timestamp, std::uint32_t eventCount, std::string& signature) {
  const std::string text = signingText(timestamp, eventCount);
  std::string digest;
  if (!md5Hex(reinterpret_cast<const unsigned char*>(text.data()),
              static_cast<std::ptrdiff_t>(text.size()), digest) ||
      digest.size() < kShortestDigest) {
    return false;
  }
  signature = digest.substr(digest.size() - kSignatureLength);
  return true;
}

}  // namespace report
