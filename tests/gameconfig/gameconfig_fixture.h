// Shared pieces of the game configuration tests: a sandbox profile (for this
// process and its children) whose product API points at a stand-in back end
// of the test's own, the served folder, the model with a recording
// onAppInfo slot, the emulator's data folder, and a log capture.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/tasks/ui_dispatcher.h"
#include "config/config_imp.h"
#include "model/bx_downloader_model.h"
#include "ui/image/icon_file.h"
#include "platform/drives.h"
#include "platform/event_loop.h"
#include "platform/machine_profile.h"
#include "support/backend_process.h"
#include "support/sandbox.h"
#include "support/ui_loop.h"
#include "utility/log_capture.h"
#include "utility/ustring.h"

namespace gameconfig_tests {

using vireo::testing::BackendOptions;
using vireo::testing::BackendProcess;
using vireo::testing::hostFileExists;
using vireo::testing::readHostFile;
using vireo::testing::writeHostFile;
using Clock = std::chrono::steady_clock;

inline bool runLoopUntil(const std::function<bool()>& done, std::uint32_t limitMs = 10000) {
  return vireo::testing::runLoopUntil(done, limitMs);
}

// One onAppInfo call.
struct AppInfo {
  std::wstring background, icon, name;
  bool operator==(const AppInfo&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const AppInfo& info) {
  return out << "{" << utility::ustring::wideToUtf8(info.background) << ", "
             << utility::ustring::wideToUtf8(info.icon) << ", "
             << utility::ustring::wideToUtf8(info.name) << "}";
}

class GameConfigTest : public ::testing::Test {
 protected:
  // The install folder on D:, as the install location gives it.
  static constexpr const wchar_t* kInstallDir = L"D:\\tallis\\Vireo9\\";

  GameConfigTest() {
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    std::filesystem::create_directories(servedRoot() + "/zud/properties");
    std::filesystem::create_directories(sandbox_.driveRoot('D'));
    useServices(vireo::testing::kClosedService);
    UiDispatcher::create();
  }

  ~GameConfigTest() override {
    if (model_) {
      model_->uninit();
      BXDownloaderModel::deleteInstance();
    }
    unsetenv("VIREO_PROFILE");
    platform::installMachineProfile(platform::MachineProfile{});
    platform::resetDriveTable();
  }

  // Starts the back end on the served folder and points the services at it.
  void serve(BackendOptions options = {}) {
    backend_ = std::make_unique<BackendProcess>(servedRoot(), std::move(options));
    ASSERT_TRUE(backend_->running());
    useServices(backend_->baseUrl());
  }

  void useServices(const std::string& base) {
    sandbox_.rewriteProfile("\"services\": {\"cdn\": \"" + base + "\", \"api\": \"" + base +
                            "\", \"analytics\": \"" + std::string(vireo::testing::kClosedService) +
                            "\", \"web\": \"" + base + "\", \"chat\": \"" + base + "\"}");
    sandbox_.installInProcess();
    setenv("VIREO_PROFILE", sandbox_.profilePath().c_str(), 1);
  }

  BXDownloaderModel& model() {
    if (model_) return *model_;
    model_ = BXDownloaderModel::getInstance();
    model_->writeIconFromPng = image::writeIconFromPngFile;
    model_->notify.onAppInfo = [this](const std::wstring& background, const std::wstring& icon,
                                      const std::wstring& name) {
      appInfo_.push_back({background, icon, name});
    };
    model_->setInstallPath(kInstallDir);
    return *model_;
  }

  // Deletes the model (its fields and game items) and makes a new one.
  BXDownloaderModel& freshModel() {
    if (model_) {
      model_->uninit();
      BXDownloaderModel::deleteInstance();
      model_ = nullptr;
    }
    appInfo_.clear();
    return model();
  }

  // Runs what the model posted to the UI thread.
  void runPosted(std::uint32_t ms = 200) {
    runLoopUntil([] { return false; }, ms);
  }

  std::string servedRoot() const { return sandbox_.folder() + "/served"; }
  void serveFile(const std::string& path, const std::string& bytes) const {
    writeHostFile(servedRoot() + path, bytes);
  }
  void serveReply(const std::string& openid, const std::string& json) const {
    serveFile("/zud/properties/" + openid + ".json", json);
  }
  std::wstring servedUrl(const std::string& path) const {
    return utility::ustring::utf8ToWide(backend_->baseUrl() + path);
  }

  // Paths of the GET requests the back end answered, in order.
  std::vector<std::string> requestedPaths() const {
    std::vector<std::string> paths;
    for (const auto& line : backend_->requestLines()) {
      rapidjson::Document d;
      d.Parse(line.c_str());
      if (d.IsObject() && d.HasMember("path") && d["path"].IsString()) {
        paths.push_back(d["path"].GetString());
      }
    }
    return paths;
  }
  // Waits until `count` requests were logged, then a moment for any further one.
  std::vector<std::string> requestedPathsAfter(std::size_t count) const {
    backend_->waitForRequestLines(count);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return requestedPaths();
  }

  std::string dataHost(const std::string& name = "") const {
    return sandbox_.driveRoot('D') + "/tallis/Vireo9/data/" + name;
  }
  std::string brandingHost(const std::string& name) const {
    return sandbox_.appDataHost() + "/vuriviredori/" + name;
  }
  std::wstring brandingPath(const std::wstring& name) const {
    return L"C:\\Users\\tester\\AppData\\Roaming\\vuriviredori\\" + name;
  }

  vireo::testing::Sandbox sandbox_{{{'C', ""}, {'D', ""}}};
  std::unique_ptr<BackendProcess> backend_;
  utility_tests::LogCapture log_;
  std::vector<AppInfo> appInfo_;

 private:
  BXDownloaderModel* model_ = nullptr;
};

}  // namespace gameconfig_tests
