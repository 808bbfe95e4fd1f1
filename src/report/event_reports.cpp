#include "report/event_reports.h"

#include <cstdint>
#include <vector>

#include "report/zk_reporter.h"
#include "utility/ustring.h"

namespace report {
namespace {

constexpr int kPhaseDownloading = 1;
constexpr int kPhaseInstalled = 3;

void flushIf(Flush flush) {
  if (flush == Flush::Yes) ZKReporter::getInstance()->flush();
}

}  // namespace

PropertyFiller stringProperty(const char* name, const std::wstring& value) {
  return [name, utf8 = utility::ustring::wideToUtf8(value)](
             rapidjson::Value& properties, rapidjson::Document::AllocatorType& allocator) {
    properties.AddMember(
        rapidjson::Value(name, allocator),
        rapidjson::Value(utf8.c_str(), static_cast<rapidjson::SizeType>(utf8.size()), allocator),
        allocator);
  };
}

void reportEvent(const wchar_t* key, Flush flush) {
  ZKReporter::getInstance()->report(key);
  flushIf(flush);
}

void reportEvent(const wchar_t* key, const char* property, const std::wstring& value, Flush flush) {
  ZKReporter::getInstance()->report(key, stringProperty(property, value));
  flushIf(flush);
}

void reportFailure(const wchar_t* key, const std::wstring& reason, Flush flush) {
  reportEvent(key, property::kFailureReason, reason, flush);
}

void reportCancel(const std::wstring& reason, Flush flush) {
  reportEvent(key::kUserCancel, property::kCancelReason, reason, flush);
}

void reportJump(const std::wstring& address) {
  reportEvent(key::kJump, property::kLinkAddress, address);
}

std::wstring installErrorReason(WPARAM code) {
  const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(code));
  return reason::kErrorCodePrefix + std::to_wstring(value);
}

std::wstring runErrorReason(DWORD code) { return reason::kRunErrorPrefix + std::to_wstring(code); }

const wchar_t* exitCancelReason(int phase) {
  if (phase == kPhaseDownloading) return reason::kDownloading;
  if (phase == kPhaseInstalled) return reason::kInstalled;
  return reason::kNormal;
}

void reportInstallError(WPARAM code) {
  reportFailure(key::kInstallFail, installErrorReason(code), Flush::Yes);
}

void reportRunError(DWORD code) { reportFailure(key::kInstallFail, runErrorReason(code)); }

void reportExitConfirmed(int phase) {
  std::vector<ZKReporter::Event> events;
  events.push_back(
      {key::kUserCancel, stringProperty(property::kCancelReason, exitCancelReason(phase))});
  if (phase == kPhaseDownloading) {
    events.push_back(
        {key::kDownloadFail, stringProperty(property::kFailureReason, reason::kUserCancel)});
  }
  ZKReporter* reporter = ZKReporter::getInstance();
  reporter->reportTogether(std::move(events));
  reporter->flush();
}

}  // namespace report
