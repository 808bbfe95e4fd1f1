// The installer program itself, run under file names and command lines of
// every shape in a sandbox machine: it ends with exit code 0 and writes its
// start lines and launch parameters to the sandbox's log.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/config_imp.h"
#include "config/installer_contract.h"
#include "platform/code_pages.h"
#include "platform/command_line.h"
#include "platform/machine_profile.h"
#include "support/installer_process.h"
#include "support/sandbox.h"
#include "utility/reg_key.h"

namespace fs = std::filesystem;

namespace {

using vireo::testing::InstallerProcess;
using vireo::testing::LogLine;
using vireo::testing::Sandbox;

constexpr const char* kProfileKeys =
    R"("adapters": ["00-1A-2B-3C-4D-5E"], "timeouts": {"exitPause": 10, "defaultUrlTick": 60000})";
const std::string kVersionLine =
    "downloader start. version is : 24.12.26 "
    "*******************************************************";
// Logged once start-up has handed over to the controller.
const std::string kControllerLine = "player, create main window...";

class InstallerRun : public ::testing::Test {
 protected:
  void SetUp() override { box_ = std::make_unique<Sandbox>(std::vector<vireo::testing::SandboxDrive>{{'C', ""}}, kProfileKeys); }

  // Gives the sandbox a stored identifier, so that the run has nothing to
  // compute or log about it.
  void storeIdentifier() {
    box_->installInProcess();
    ConfigImp::getInstance()->pcid.clear();
    ConfigImp::getInstance()->getPCIDNew();
    ConfigImp::getInstance()->pcid.clear();
    platform::installMachineProfile({});
  }

  // Runs a copy at C:\<relative> with the command-line text after the
  // program name until it has handed over to the controller, then ends it as
  // a logout does; returns the exit code.
  int run(const std::string& relative, const std::wstring& arguments) {
    process_ = std::make_unique<InstallerProcess>(*box_, relative);
    if (!process_->start(arguments)) return -1;
    process_->waitForLog(kControllerLine);
    process_->terminate();
    return process_->wait();
  }

  std::string logPath() const { return box_->appDataHost() + "/downloader/downloader.log"; }
  std::vector<LogLine> log() const { return vireo::testing::parseLog(vireo::testing::readHostFile(logPath())); }

  // The start lines and the launch parameters: the lines of wWinMain and of
  // BXDownloaderModel::init up to the version line.
  std::vector<LogLine> startLines() const {
    std::vector<LogLine> out;
    for (const auto& l : log()) {
      if (l.function != "wWinMain" && l.function != "BXDownloaderModel::init") continue;
      out.push_back(l);
      if (l.message == kVersionLine) break;
    }
    return out;
  }

  std::unique_ptr<Sandbox> box_;
  std::unique_ptr<InstallerProcess> process_;
};

struct RunCase {
  std::string file;           // under C:\ of the sandbox
  std::wstring arguments;     // the text after the program name
  std::vector<std::string> launchLines;  // under BXDownloaderModel::init
};

TEST_F(InstallerRun, LogsTheStartAndTheLaunchParametersOfEveryShape) {
  const std::string deep(240, 'd');
  const std::wstring longUrl = L"https://h.example/" + std::wstring(30000, L'u');
  const RunCase cases[] = {
      {"vireo9_com.example.game_20391_1.exe", L"",
       {"BXDownloaderModel::exe filename= vireo9_com.example.game_20391_1",
        "type: vireo9, package:com.example.game, openID:20391 gameID ",
        "openid is 20391, package is com.example.game"}},
      {"Downloads/vireo64_com.example.game_20391_55_x.exe",
       L"\"name=Game X|package=com.example.x|apkurl=https://h.example/g.apk\"",
       {"BXDownloaderModel::exe filename= vireo64_com.example.game_20391_55_x",
        "type: vireo64, package:com.example.game, openID:20391 gameID 55",
        "openid is 20391, package is com.example.game",
        "cmdline is Game X, com.example.x, https://h.example/g.apk"}},
      {"installer.exe", L"APKURL = a | Name = b",
       {"BXDownloaderModel::exe filename= installer", "openid is , package is ",
        "cmdline is b, , a"}},
      {"____.exe", L"\"",
       {"BXDownloaderModel::exe filename= ____", "type: , package:, openID: gameID ",
        "openid is , package is "}},
      {"VIREO5(64)_pkg.abc_123_7_z.exe", L"\"\"\"\"\"\"",
       {"BXDownloaderModel::exe filename= VIREO5(64)_pkg.abc_123_7_z",
        "type: VIREO5(64), package:pkg.abc, openID:123 gameID 7", "openid is 123, package is pkg.abc"}},
      {"vireo9_游戏包名_123_1.exe", L"package=com.example.x",
       {"BXDownloaderModel::exe filename= vireo9_游戏包名_123_1",
        "type: vireo9, package:游戏包名, openID:123 gameID ", "openid is 123, package is 游戏包名",
        "cmdline is , com.example.x, "}},
      {"vireo9_abc_12_1.exe", L"|||==|%s%n%ls|",
       {"BXDownloaderModel::exe filename= vireo9_abc_12_1",
        "type: vireo9, package:abc, openID:12 gameID ", "openid is , package is "}},
      // The executable's path is cut at 259 characters, as its 260-unit buffer
      // does: "...\vireo9_com.exam", whose last full stop then cuts the name.
      {deep + "/vireo9_com.example.game_20391_1.exe", L"",
       {"BXDownloaderModel::exe filename= vireo9_com", "openid is , package is "}},
      // A message is cut at 8,191 characters.
      {"vireo9_abcd_1234_1.exe", L"apkurl=" + longUrl,
       {"BXDownloaderModel::exe filename= vireo9_abcd_1234_1",
        "type: vireo9, package:abcd, openID:1234 gameID ", "openid is 1234, package is abcd",
        platform::wideToUtf8((L"cmdline is , , " + longUrl).substr(0, 8191))}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.substr(c.file.size() > 60 ? c.file.size() - 60 : 0));
    SetUp();
    storeIdentifier();
    ASSERT_FALSE(vireo::testing::hostFileExists(box_->appDataHost() + "/downloader"));
    EXPECT_EQ(run(c.file, c.arguments), 0);

    std::vector<LogLine> expected = {{"wWinMain", "\r\n\r\n start run"}};
    for (const auto& l : c.launchLines) expected.push_back({"BXDownloaderModel::init", l});
    expected.push_back({"wWinMain", kVersionLine});
    EXPECT_EQ(startLines(), expected);
  }
}

TEST_F(InstallerRun, ACleanMachineGetsItsIdentifierStored) {
  EXPECT_EQ(run("vireo9_com.example.game_20391_1.exe", L""), 0);
  std::vector<LogLine> lines = log();
  std::vector<LogLine> start = startLines();
  ASSERT_GE(start.size(), 2u);
  EXPECT_EQ(start.front(), (LogLine{"wWinMain", "\r\n\r\n start run"}));
  EXPECT_EQ(start.back(), (LogLine{"wWinMain", kVersionLine}));
  bool identityLine = false;
  for (const auto& l : lines) {
    identityLine = identityLine || (l.function == "ConfigImp::getPCIDNew" &&
                                    l.message.rfind("read pcmac from  user reg error ", 0) == 0);
  }
  EXPECT_TRUE(identityLine);

  box_->installInProcess();
  utility::RegKey key;
  std::string pcidex;
  ASSERT_EQ(key.RegRegOpen(HKEY_CURRENT_USER, contract::kIdentityKey, KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(key.RegRead(contract::kPcidexValue, pcidex), ERROR_SUCCESS);
  EXPECT_FALSE(pcidex.empty());
  platform::installMachineProfile({});
}

TEST_F(InstallerRun, AnExistingLogIsAppendedTo) {
  storeIdentifier();
  vireo::testing::writeHostFile(logPath(), "earlier run\r\n");
  EXPECT_EQ(run("installer.exe", L""), 0);
  std::string text = vireo::testing::readHostFile(logPath());
  EXPECT_EQ(text.rfind("earlier run\r\n", 0), 0u);
  EXPECT_EQ(startLines().size(), 4u);
}

}  // namespace
