#include "config/services.h"

#include <optional>

#include "platform/code_pages.h"
#include "platform/machine_profile.h"

namespace config {
namespace {

std::wstring chosen(const std::optional<std::string>& fromProfile, const wchar_t* fallback) {
  if (!fromProfile) return fallback;
  return platform::utf8ToWide(*fromProfile);
}

}  // namespace

ServiceAddresses serviceAddresses() {
  const platform::ServiceSpec& given = platform::machineProfile().services;
  ServiceAddresses out;
  out.cdn = chosen(given.cdn, kDefaultCdn);
  out.api = chosen(given.api, kDefaultApi);
  out.analytics = chosen(given.analytics, kDefaultAnalytics);
  out.web = chosen(given.web, kDefaultWeb);
  out.chat = chosen(given.chat, kDefaultChat);
  return out;
}

}  // namespace config
