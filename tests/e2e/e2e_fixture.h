// A whole installation against the stand-ins: a fresh sandbox machine, the
// stand-in back end over HTTPS (the test CA trusted through the profile)
// serving the download-resolution document, the signed full installer, the
// game configuration and its pictures, and the real installer binary run
// under a file name that carries the launch parameters.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gameconfig/png_pictures.h"
#include "platform/code_pages.h"
#include "platform/drives.h"
#include "platform/machine_profile.h"
#include "platform/processes.h"
#include "standins/standin_fixture.h"
#include "support/backend_process.h"
#include "support/installer_process.h"
#include "support/sandbox.h"

namespace e2e_tests {

using namespace vireo::testing;

// The copy of the installer: edition vireo9, package com.example.game,
// openid 20391.
constexpr const char* kInstallerFile = "Downloads/vireo9_com.example.game_20391_1.run";
constexpr const char* kOpenid = "20391";
constexpr const char* kInstallFolder = "tallis/Vireo9";  // under D:, the best drive
constexpr const char* kGameName = "天空之城";

struct Upload {
  bool valid = false;
  std::vector<std::string> keys;
  std::vector<std::string> reasons;  // "failure_reason" per event, "" when none
};

class HeadlessRunTest : public ::testing::Test {
 protected:
  // `profileKeys` adds top-level profile keys, `timeouts` named time-outs.
  void prepare(const std::string& profileKeys = "", const std::string& timeouts = "") {
    certificates_ = makeTestCertificates(sandbox_.folder() + "/tls");
    ASSERT_TRUE(certificates_.ok);
    served_ = sandbox_.folder() + "/served";
    std::filesystem::create_directories(served_);
    BackendOptions options;
    options.tlsCertificate = certificates_.serverCertificate;
    options.tlsKey = certificates_.serverKey;
    backend_ = std::make_unique<BackendProcess>(served_, options);
    ASSERT_TRUE(backend_->running());
    base_ = backend_->baseUrl();
    serveData();

    std::string keys = "\"services\": {\"cdn\": \"" + base_ + "\", \"api\": \"" + base_ +
                       "\", \"analytics\": \"" + base_ + "\", \"web\": \"" + base_ + "\"}" +
                       ", \"trustedCA\": \"" + certificates_.caCertificate + "\"" +
                       ", \"publisherCA\": \"" + std::string(VIREO_BIN_DIR) +
                       "/../publisher/publisher-ca.crt\"" +
                       ", \"adapters\": [\"00-1A-2B-3C-4D-5E\"]" +
                       ", \"timeouts\": {\"exitPause\": 10" +
                       (timeouts.empty() ? "" : ", " + timeouts) + "}";
    if (!profileKeys.empty()) keys += ", " + profileKeys;
    sandbox_.rewriteProfile(keys);
  }

  // The data folder of the back end: what the product's services would hold.
  void serveData() {
    writeHostFile(served_ + "/zk/tallisex",
                  "{\"zud9\": {\"url\": \"" + base_ + "/download/release/zkinst9.0.exe\", "
                  "\"url_spare\": \"\", \"ver\": \"9.1.2\", \"vershow\": \"9.1\"}}");
    installProgram(releaseInstaller("zkinst9.0.exe"), served_ + "/download/release/zkinst9.0.exe");
    writeHostFile(served_ + "/zud/properties/" + kOpenid + ".json", gameConfiguration());
    icon_ = gameconfig_tests::makePng(64, 64, gameconfig_tests::PngKind::Rgba8);
    writeHostFile(served_ + "/pictures/icon.png", icon_);
    for (const char* picture : {"bg.jpg", "launch_1920.jpg", "launch_1080.jpg", "wallpaper.jpg"}) {
      writeHostFile(served_ + "/pictures/" + picture, std::string(8000, 'j') + picture);
    }
  }

  std::string gameConfiguration() const {
    std::string p = base_ + "/pictures/";
    return std::string("{\"code\": 0, \"data\": {") +
           "\"packageName\": \"com.example.game\", \"installFileName\": \"" + kGameName + "\", " +
           "\"installApkUrl\": \"" + base_ + "/games/com.example.game.apk\", \"gameid\": 1024, " +
           "\"playerLoadingBgH\": \"" + p + "launch_1920.jpg\", " +
           "\"playerLoadingBgV\": \"" + p + "launch_1080.jpg\", " +
           "\"startupTitle\": \"" + kGameName + "\", \"desktopGameName\": \"" + kGameName + "\", " +
           "\"desktopGameIco\": \"" + p + "icon.png\", \"desktopGamePng\": \"" + p + "icon.png\", " +
           "\"installBg\": \"" + p + "bg.jpg\", \"desktopWallpaper\": \"" + p + "wallpaper.jpg\", " +
           "\"blockAds\": 0, \"cleanmodel\": 1}}";
  }

  // Runs the installer to its end; its exit code.
  int runInstaller(std::vector<std::string> environment = {}) {
    installer_ = std::make_unique<InstallerProcess>(sandbox_, kInstallerFile, std::move(environment));
    if (!installer_->start()) return -1;
    return installer_->wait(std::chrono::seconds(90));
  }

  std::vector<std::string> messages(const std::string& function) const {
    return messagesOf(installer_->log(), function);
  }
  bool logged(const std::string& function, const std::string& message) const {
    for (const auto& m : messages(function)) {
      if (m == message) return true;
    }
    return false;
  }

  std::vector<Upload> uploads() const {
    std::vector<Upload> out;
    for (const std::string& line : backend_->recordLines()) {
      rapidjson::Document record;
      record.Parse(line.c_str());
      Upload upload;
      upload.valid = record.IsObject() && record.HasMember("valid") && record["valid"].IsTrue();
      if (record.IsObject() && record.HasMember("body") && record["body"].IsArray()) {
        for (const auto& event : record["body"].GetArray()) {
          upload.keys.push_back(event["eventKey"].GetString());
          const auto& properties = event["properties"];
          upload.reasons.push_back(properties.HasMember("failure_reason")
                                       ? properties["failure_reason"].GetString()
                                       : "");
        }
      }
      out.push_back(upload);
    }
    return out;
  }

  // Every event key sent, in order, and whether every upload was signed right.
  std::vector<std::string> reportedKeys(bool* allValid = nullptr) const {
    std::vector<std::string> keys;
    bool valid = true;
    for (const Upload& u : uploads()) {
      keys.insert(keys.end(), u.keys.begin(), u.keys.end());
      valid = valid && u.valid;
    }
    if (allValid) *allValid = valid;
    return keys;
  }

  std::string installHost() const { return sandbox_.driveRoot('D') + "/" + kInstallFolder; }
  std::string dataHost() const { return installHost() + "/data"; }

  // Ends what the installation left running in the sandbox (the emulator
  // keeps running, as the real one does).
  void TearDown() override {
    if (!profile_) profile_ = std::make_unique<ProfileScope>(sandbox_);
    platform::endProcessesByName(L"varedori.exe", true);
    platform::endProcessesByName(L"zkinst_9.1.2.exe", true);
  }

  // The sandbox as this process's profile (registry, drives, snapshots).
  void enterSandbox() {
    if (!profile_) profile_ = std::make_unique<ProfileScope>(sandbox_);
  }

  Sandbox sandbox_{std::vector<SandboxDrive>{{'C', "\"freeMiB\": 30000"},
                                             {'D', "\"freeMiB\": 90000, \"ssd\": true"}}};
  TestCertificates certificates_;
  std::string served_;
  std::string base_;
  std::string icon_;
  std::unique_ptr<BackendProcess> backend_;
  std::unique_ptr<InstallerProcess> installer_;
  std::unique_ptr<ProfileScope> profile_;
};

}  // namespace e2e_tests
