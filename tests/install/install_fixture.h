// Shared pieces of the installation tests: a sandbox machine (drives C: and
// D:) that is the profile of this process and of its children, a stand-in
// back end that records the telemetry, the model with an install folder,
// the UI loop run until a condition holds, and the stand-in programs placed
// into the sandbox.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/tasks/ui_dispatcher.h"
#include "model/bx_downloader_model.h"
#include "platform/event_loop.h"
#include "platform/processes.h"
#include "report/zk_reporter.h"
#include "standins/standin_fixture.h"
#include "support/backend_process.h"
#include "support/sandbox.h"
#include "support/ui_loop.h"
#include "utility/log_capture.h"

namespace install_tests {

using namespace vireo::testing;

constexpr const wchar_t* kInstallPath = L"D:\\tallis\\Vireo9\\";
constexpr const char* kInstallHost = "tallis/Vireo9";  // under drive D

struct ReportedEvent {
  std::string key;
  std::string failureReason;  // empty when the event has none
  bool operator==(const ReportedEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ReportedEvent& e) {
  return out << e.key << (e.failureReason.empty() ? "" : " " + e.failureReason);
}

inline bool runLoopUntil(const std::function<bool()>& done, int limitMs = 20000) {
  return vireo::testing::runLoopUntil(done, static_cast<std::uint32_t>(limitMs));
}

inline std::string sandboxProfileKeys(const std::string& baseUrl, const std::string& more) {
  std::string keys = "\"services\": {\"cdn\": \"" + baseUrl + "\", \"api\": \"" + baseUrl +
                     "\", \"analytics\": \"" + baseUrl + "\", \"web\": \"" + baseUrl +
                     "\"}, \"adapters\": [\"00-1A-2B-3C-4D-5E\"]";
  if (!more.empty()) keys += ", " + more;
  return keys;
}

class InstallTest : public ::testing::Test {
 protected:
  // `profileKeys` adds top-level profile keys (e.g. time-outs).
  explicit InstallTest(std::string profileKeys = "")
      : sandbox_({{'C', ""}, {'D', ""}}), backendRoot_(sandbox_.folder() + "/served") {
    std::filesystem::create_directories(backendRoot_);
    backend_ = std::make_unique<BackendProcess>(backendRoot_);
    sandbox_.rewriteProfile(sandboxProfileKeys(backend_->baseUrl(), profileKeys));
    profile_ = std::make_unique<ProfileScope>(sandbox_);
    UiDispatcher::create();
    model_ = BXDownloaderModel::getInstance();
    model_->openid = L"20391";
    model_->setInstallPath(kInstallPath);
    ZKReporter::getInstance()->start(L"20391", L"test-pcid");
  }

  void SetUp() override { ASSERT_TRUE(backend_->running()); }

  void TearDown() override {
    model_->uninit();
    BXDownloaderModel::deleteInstance();
    drainReporter();
    // Whatever a test left running in its sandbox.
    for (const wchar_t* name : {L"varedori.exe", L"bxmultiplayer.exe", L"bxmultiplayerex.exe",
                                L"bugreport.exe", L"zkinst_9.1.2.exe"}) {
      platform::endProcessesByName(name, true);
    }
  }

  std::string installHost() const { return sandbox_.driveRoot('D') + "/" + kInstallHost; }

  // Events the reporter sent. It is flushed and given time to upload
  // everything queued (it keeps running: the process has only one).
  std::vector<ReportedEvent> reportedEvents() {
    size_t uploads = drainReporter();
    std::vector<ReportedEvent> events;
    for (const std::string& line : backend_->waitForRecordLines(uploads)) {
      rapidjson::Document upload;
      upload.Parse(line.c_str());
      if (!upload.IsObject() || !upload.HasMember("body") || !upload["body"].IsArray()) continue;
      for (const auto& event : upload["body"].GetArray()) {
        ReportedEvent e;
        e.key = event["eventKey"].GetString();
        const auto& properties = event["properties"];
        if (properties.HasMember("failure_reason")) {
          e.failureReason = properties["failure_reason"].GetString();
        }
        events.push_back(e);
      }
    }
    return events;
  }

  // Flushes the reporter and waits until its uploads have been answered;
  // returns how many it made during this test.
  size_t drainReporter() {
    constexpr const char* kReporterThread = "ZKReporter::_threadReport";
    ZKReporter* reporter = ZKReporter::getInstance();
    auto count = [this, kReporterThread](const std::wstring& prefix) {
      size_t n = 0;
      for (const auto& m : log_.messages(kReporterThread)) n += m.rfind(prefix, 0) == 0 ? 1 : 0;
      return n;
    };
    // Drained: nothing pending, and the thread is back waiting after a pass
    // that began after this flush (so the pass that took the last events
    // has finished its upload).
    const size_t waitsBefore = count(L"waitfor event");
    reporter->flush();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
      if (reporter->pendingCount() != 0) reporter->flush();
      const size_t waits = count(L"waitfor event");
      const bool waiting = waits == count(L"event comming") + 1;
      if (reporter->pendingCount() == 0 && waits > waitsBefore && waiting) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return count(L"post report quest");
  }

  // The events of one key, in order.
  std::vector<ReportedEvent> reported(const std::string& key) {
    std::vector<ReportedEvent> out;
    for (const auto& e : reportedEvents()) {
      if (e.key == key) out.push_back(e);
    }
    return out;
  }

  // The emulator stand-in as the installed varedori.exe.
  std::string placeEmulator() {
    std::string host = installHost() + "/varedori.exe";
    installProgram(binFile("standin-emulator"), host);
    return host;
  }
  std::string emulatorRecord() const { return installHost() + "/varedori-starts.txt"; }

  // Waits for the emulator's record to have `count` lines and returns them.
  std::vector<std::unique_ptr<rapidjson::Document>> emulatorStarts(size_t count) {
    for (int i = 0; i < 2000; ++i) {
      if (hostFileExists(emulatorRecord()) && recordLines(emulatorRecord()).size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return hostFileExists(emulatorRecord()) ? recordLines(emulatorRecord())
                                            : std::vector<std::unique_ptr<rapidjson::Document>>{};
  }

  Sandbox sandbox_;
  std::string backendRoot_;
  std::unique_ptr<BackendProcess> backend_;
  std::unique_ptr<ProfileScope> profile_;
  BXDownloaderModel* model_ = nullptr;
  utility_tests::LogCapture log_;
};

}  // namespace install_tests
