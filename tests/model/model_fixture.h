// Shared pieces of the model tests: a sandbox profile whose services all
// point at a stand-in back end of the test's own, the process's UI loop run
// until a condition holds, the model with recording notification slots, a
// log capture, and the signed stand-in full installer.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/tasks/ui_dispatcher.h"
#include "config/config_imp.h"
#include "model/bx_downloader_model.h"
#include "platform/event_loop.h"
#include "report/zk_reporter.h"
#include "support/backend_process.h"
#include "support/sandbox.h"
#include "support/ui_loop.h"
#include "utility/log_capture.h"
#include "utility/ustring.h"

namespace model_tests {

using vireo::testing::BackendOptions;
using vireo::testing::BackendProcess;
using vireo::testing::hostFileExists;
using vireo::testing::readHostFile;
using vireo::testing::Sandbox;
using vireo::testing::writeHostFile;
using Clock = std::chrono::steady_clock;

// Program-like bytes: a fixed pattern with some variety.
inline std::string programBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 17) % 251);
  return bytes;
}

inline std::string shellQuoted(const std::string& text) { return "'" + text + "'"; }

// Signs `in` into `out` with standin-sign and the given signer; true on success.
inline bool signFile(const std::string& certificate, const std::string& key, const std::string& in,
                     const std::string& out) {
  const std::string command = std::string(VIREO_BIN_DIR) + "/standin-sign --cert " +
                              shellQuoted(certificate) + " --key " + shellQuoted(key) + " " +
                              shellQuoted(in) + " " + shellQuoted(out) + " 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

inline rapidjson::Document parseJson(const std::string& text) {
  rapidjson::Document document;
  document.Parse(text.c_str());
  return document;
}

inline long millisecondsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// One log capture for the whole program, installed before any thread of the
// process reporter runs and never swapped while one may log.
inline utility_tests::LogCapture& processLogCapture() {
  static utility_tests::LogCapture capture;
  return capture;
}

// The process's reporter keeps its thread for the whole program (a stopped
// one never uploads again); it is stopped once, after the last test, before
// the program's static objects go.
class StopTheReporterAfterTheLastTest : public ::testing::Environment {
 public:
  void TearDown() override { ZKReporter::getInstance()->stop(); }
};
inline ::testing::Environment* const kReporterEnvironment =
    ::testing::AddGlobalTestEnvironment(new StopTheReporterAfterTheLastTest);

inline bool runLoopUntil(const std::function<bool()>& done, std::uint32_t limitMs = 15000) {
  return vireo::testing::runLoopUntil(done, limitMs);
}

inline void runLoopFor(std::uint32_t ms) {
  runLoopUntil([] { return false; }, ms);
}

// What reached the notification slots, on the UI thread.
struct Notified {
  struct Progress {
    int percent, received, total;
    long atMs;  // since the test began
  };
  std::vector<Progress> progress;
  int succeeded = 0;
  int failed = 0;
  int outcomes() const { return succeeded + failed; }
};

class ModelTest : public ::testing::Test {
 protected:
  static constexpr const char* kInstallerPath = "/download/release/zkinst9.0.exe";
  static constexpr const char* kVersion = "9.1.2";
  static constexpr std::size_t kInstallerSize = 2100000;

  ModelTest() {
    // Nothing here may leave 127.0.0.1, whatever proxy the machine names.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    log_.clear();
    std::filesystem::create_directories(servedRoot() + "/zk");
    std::filesystem::create_directories(servedRoot() + "/download/release");
    useProfile("http://127.0.0.1:9");
    UiDispatcher::create();
    ConfigImp::getInstance()->edition = 3;
    ConfigImp::getInstance()->packagePath.clear();
  }

  ~ModelTest() override {
    dropModel();
    // What the model logged explains most failures.
    if (HasFailure()) {
      for (const auto& line : log_.lines()) {
        std::cerr << line.function << ": " << utility::ustring::wideToUtf8(line.message) << "\n";
      }
    }
  }

  // Shuts the model down and deletes it; model() makes a new one.
  void dropModel() {
    if (!model_) return;
    model_->uninit();
    BXDownloaderModel::deleteInstance();
    model_ = nullptr;
  }

  // Starts the back end on the served folder and points every service at it.
  void serve(BackendOptions options = {}, const std::string& moreProfile = "") {
    backend_ = std::make_unique<BackendProcess>(servedRoot(), std::move(options));
    ASSERT_TRUE(backend_->running());
    useProfile(backend_->baseUrl(), moreProfile);
  }

  void useProfile(const std::string& services, const std::string& moreProfile = "") {
    std::string extra = "\"connected\": true, \"services\": {\"cdn\": \"" + services +
                        "\", \"api\": \"" + services + "\", \"analytics\": \"" + services +
                        "\", \"web\": \"" + services + "\", \"chat\": \"" + services + "\"}";
    if (!moreProfile.empty()) extra += ", " + moreProfile;
    sandbox_.rewriteProfile(extra);
    sandbox_.installInProcess();
  }

  // The model with slots that record into notified_, installing into
  // C:\Vireo\.
  BXDownloaderModel& model() {
    if (model_) return *model_;
    model_ = BXDownloaderModel::getInstance();
    model_->notify.onDownloadProgress = [this](int percent, int received, int total) {
      notified_.progress.push_back({percent, received, total, millisecondsSince(begin_)});
    };
    model_->notify.onDownloadSucceeded = [this] { notified_.succeeded++; };
    model_->notify.onDownloadFailed = [this] { notified_.failed++; };
    model_->setInstallPath(kInstallDir);
    return *model_;
  }

  // The default-address timer counts its ticks for the whole process, never
  // reset: a test that relies on the first two ticks needs a process in which
  // no other test used it (ctest runs every test in a process of its own).
  static bool& defaultAddressTimerUsed() {
    static bool used = false;
    return used;
  }

  void setAddress(const std::string& url, const std::string& spare,
                  const std::string& version = kVersion) {
    PlayerAddress address;
    address.url = utility::ustring::utf8ToWide(url);
    address.urlSpare = utility::ustring::utf8ToWide(spare);
    address.version = utility::ustring::utf8ToWide(version);
    model().setPlayerAddress(address);
  }

  std::string servedUrl(const std::string& path) const { return backend_->baseUrl() + path; }
  std::string servedRoot() const { return sandbox_.folder() + "/served"; }
  void serveFile(const std::string& path, const std::string& bytes) {
    writeHostFile(servedRoot() + path, bytes);
  }
  void serveInstaller(const std::string& path = kInstallerPath) { serveFile(path, installer()); }

  // A full installer of about 2 MiB signed with the build's publisher, whose
  // certificate the installer has compiled in; made once per test.
  const std::string& installer() {
    if (installer_.empty()) {
      const std::string in = sandbox_.folder() + "/installer.unsigned";
      const std::string out = sandbox_.folder() + "/installer.exe";
      writeHostFile(in, programBytes(kInstallerSize));
      const std::string publisher = VIREO_PUBLISHER_DIR;
      EXPECT_TRUE(signFile(publisher + "/publisher-signer.crt", publisher + "/publisher-signer.key",
                           in, out));
      installer_ = readHostFile(out);
    }
    return installer_;
  }

  // The download target C:\Vireo\zkinst_9.1.2.exe on the host.
  std::string hostTarget() const {
    return sandbox_.driveRoot('C') + "/Vireo/zkinst_" + kVersion + ".exe";
  }

  // Runs the loop until the download has an outcome.
  bool waitForOutcome(std::uint32_t limitMs = 20000) {
    return runLoopUntil([this] { return notified_.outcomes() > 0; }, limitMs);
  }

  // GET requests the back end saw (uploads left out), parsed.
  std::vector<rapidjson::Document> getRequests() const {
    std::vector<rapidjson::Document> out;
    for (const auto& line : backend_->requestLines()) {
      rapidjson::Document d = parseJson(line);
      if (d.IsObject() && std::string(d["method"].GetString()) == "GET")
        out.push_back(std::move(d));
    }
    return out;
  }

  // Waits until an upload to the analytics service carried `key` (with
  // `reason` as its "failure_reason" when given).
  bool waitForReport(const std::string& key, const std::string& reason = "",
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
    const auto deadline = Clock::now() + limit;
    do {
      for (const auto& line : backend_->recordLines()) {
        rapidjson::Document record = parseJson(line);
        if (!record.IsObject() || !record["body"].IsArray()) continue;
        for (const auto& event : record["body"].GetArray()) {
          if (key != event["eventKey"].GetString()) continue;
          if (reason.empty()) return true;
          const auto& properties = event["properties"];
          if (properties.HasMember("failure_reason") &&
              reason == properties["failure_reason"].GetString()) {
            return true;
          }
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    return false;
  }

  bool logged(const char* function, const std::wstring& message) const {
    return log_.has(function, message);
  }
  std::vector<std::wstring> messages(const char* function) const { return log_.messages(function); }

  static constexpr const wchar_t* kInstallDir = L"C:\\Vireo\\";
  static constexpr const char* kDownloadFunction = "BXDownloaderModel::_threadDownloadPlayerByIE";
  static constexpr const char* kByUrlFunction = "BXDownloaderModel::_downloadByUrl";
  static constexpr const char* kRealFunction = "BXDownloaderModel::realDownloadPlayer";

  Sandbox sandbox_;
  std::unique_ptr<BackendProcess> backend_;
  utility_tests::LogCapture& log_ = processLogCapture();
  Notified notified_;
  Clock::time_point begin_ = Clock::now();

 private:
  BXDownloaderModel* model_ = nullptr;
  std::string installer_;
};

}  // namespace model_tests
