#include "config/publisher_certificate.h"

#include <cstdint>

#include "platform/drives.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/machine_profile.h"
#include "utility/log.h"

namespace config {
namespace generated {
extern const char kPublisherCertificatePem[];  // publisher_certificate_data.cpp, made by the build
}  // namespace generated

namespace {
// A certificate file is a few KiB; a bundle of a handful stays far below this.
constexpr std::uint64_t kMaxCertificateFileBytes = 1u << 20;
}  // namespace

std::string_view builtInPublisherCertificatePem() { return generated::kPublisherCertificatePem; }

std::string publisherCertificatesPem() {
  const auto& profileFile = platform::machineProfile().publisherCA;
  if (!profileFile) return std::string(builtInPublisherCertificatePem());
  std::wstring path = platform::windowsPath(*profileFile);
  std::string pem;
  if (!platform::readFile(path, pem, kMaxCertificateFileBytes)) {
    VLOG(L"publisher certificate %ls cannot be read, lastError = %d", path.c_str(),
         static_cast<int>(platform::getLastError()));
    return {};
  }
  return pem;
}

}  // namespace config
