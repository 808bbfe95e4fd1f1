// Shared pieces of the reporter tests: a sandbox profile whose analytics
// service is a stand-in back end of the test's own, a log capture, and
// readers for the back end's upload records.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/backend_process.h"
#include "support/sandbox.h"
#include "utility/log_capture.h"

namespace report_tests {

using vireo::testing::BackendOptions;
using vireo::testing::BackendProcess;

constexpr const char* kThreadFunction = "ZKReporter::_threadReport";

inline rapidjson::Document parseJson(const std::string& text) {
  rapidjson::Document document;
  document.Parse(text.c_str());
  return document;
}

inline std::vector<std::string> memberNames(const rapidjson::Value& object) {
  std::vector<std::string> names;
  for (const auto& member : object.GetObject()) names.emplace_back(member.name.GetString());
  return names;
}

class ReporterTest : public ::testing::Test {
 protected:
  // Starts the back end and points the profile's analytics service at it.
  void serve(BackendOptions options = {}, const std::string& moreProfile = "") {
    std::filesystem::create_directories(sandbox_.folder() + "/served");
    backend_ = std::make_unique<BackendProcess>(sandbox_.folder() + "/served", std::move(options));
    ASSERT_TRUE(backend_->running());
    useAnalytics(backend_->baseUrl(), moreProfile);
  }

  void useAnalytics(const std::string& address, const std::string& moreProfile = "") {
    std::string extra = "\"services\": {\"analytics\": \"" + address + "\"}";
    if (!moreProfile.empty()) extra += ", " + moreProfile;
    sandbox_.rewriteProfile(extra);
    sandbox_.installInProcess();
  }

  // The upload record number `index` (0-based), waiting for it to arrive.
  rapidjson::Document record(std::size_t index) {
    const auto lines = backend_->waitForRecordLines(index + 1);
    if (lines.size() <= index) {
      ADD_FAILURE() << "upload " << index << " never arrived";
      return parseJson("{}");
    }
    return parseJson(lines[index]);
  }

  std::size_t recordCount() const { return backend_->recordLines().size(); }

  std::vector<std::wstring> threadMessages() const { return log_.messages(kThreadFunction); }

  // Waits until the reporter thread has logged `message` `times` times.
  bool waitForMessage(const std::wstring& message, std::size_t times = 1,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      std::size_t seen = 0;
      for (const auto& m : threadMessages()) seen += (m == message) ? 1 : 0;
      if (seen >= times) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  vireo::testing::Sandbox sandbox_;
  std::unique_ptr<BackendProcess> backend_;
  utility_tests::LogCapture log_;
};

}  // namespace report_tests
