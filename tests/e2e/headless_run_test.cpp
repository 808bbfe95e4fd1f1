// The installer from start to the emulator's start, headless, in a sandbox
// against the stand-ins: resolution, download and signature check, silent
// installation with the full installer's messages, the game configuration
// and the emulator started with the game's argument text. Then the runs that
// end early: no network, and a full installer that reports an error.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "e2e_fixture.h"
#include "platform/registry_store.h"

namespace e2e_tests {
namespace {

TEST_F(HeadlessRunTest, InstallsConfiguresAndStartsTheEmulatorWithTheGame) {
  prepare();
  ASSERT_EQ(runInstaller(), 0);
  enterSandbox();

  // The emulator stand-in was started with the game's argument text.
  auto starts = recordLines(installHost() + "/varedori-starts.txt");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(textOf(*starts[0], "arguments"),
            "apk=|show=true|package=com.example.game|downloadgameid=1024");

  // The full installer was downloaded, checked and run with its command line.
  EXPECT_TRUE(hostFileExists(installHost() + "/zkinst_9.1.2.exe"));
  auto installerStarts = recordLines(installHost() + "/full-installer-starts.txt");
  ASSERT_EQ(installerStarts.size(), 1u);
  EXPECT_EQ(textOf(*installerStarts[0], "commandLine"),
            "\"D:\\tallis\\Vireo9\\zkinst_9.1.2.exe\" -silence -downloader -openid=20391 "
            "-path=\"D:\\tallis\\Vireo9\\\"");
  for (const char* file : {"varedori.exe", "bxconsole.exe", "vms"}) {
    EXPECT_TRUE(hostFileExists(installHost() + "/" + file)) << file;
  }

  // The game configuration's pictures and settings in the data folder.
  for (const char* file : {"launch_1920.jpg", "launch_1080.jpg", "wallpaper.jpg"}) {
    EXPECT_EQ(readHostFile(dataHost() + "/" + file), readHostFile(served_ + "/pictures/" + file))
        << file;
  }
  EXPECT_EQ(readHostFile(dataHost() + "/" + kGameName + ".png"), icon_);
  EXPECT_TRUE(hostFileExists(dataHost() + "/" + kGameName + ".ico"));
  std::string settings = readHostFile(dataHost() + "/data.ini");
  EXPECT_NE(settings.find("[setting]"), std::string::npos) << settings;
  EXPECT_NE(settings.find("cleanmodel=1"), std::string::npos) << settings;
  EXPECT_NE(settings.find(std::string("title=") + kGameName), std::string::npos) << settings;
  EXPECT_NE(settings.find("runapp=com.example.game"), std::string::npos) << settings;
  EXPECT_EQ(settings.find("adshow"), std::string::npos) << "ads stay on: blockAds is 0";

  // The edition's registry value and desktop shortcut, from the full installer.
  std::wstring installDir;
  EXPECT_EQ(platform::registry::readValue(HKEY_CURRENT_USER, L"Software\\tallis\\Vireo9",
                                          L"InstallDir", installDir),
            ERROR_SUCCESS);
  EXPECT_EQ(installDir, L"D:\\tallis\\Vireo9\\");
  EXPECT_TRUE(hostFileExists(sandbox_.desktopHost() + "/拓岚模拟器9.lnk"));

  // The cache record names the installer for the next run.
  EXPECT_EQ(readHostFile(sandbox_.appDataHost() + "/vuriviredori/cachepath.data"),
            "D:\\tallis\\Vireo9\\zkinst_9.1.2.exe");

  // Telemetry: the whole story, every upload correctly signed.
  bool allValid = false;
  std::vector<std::string> keys = reportedKeys(&allValid);
  EXPECT_TRUE(allValid);
  EXPECT_EQ(keys, (std::vector<std::string>{"start_download", "downloader_start_install",
                                            "downloader_start_install_success", "download_success",
                                            "start_install", "complete_install", "call_zud"}));

  // The log tells the same story.
  EXPECT_TRUE(logged("BXDownloaderModel::_threadInstallPlayer",
                     "install player param: -silence -downloader -openid=20391 "
                     "-path=\"D:\\tallis\\Vireo9\\\""));
  EXPECT_TRUE(logged("install_player", "install player complete"));
  EXPECT_TRUE(logged("BXDownloaderImpl::onHandleWindowIPC", "install sucess"));
  EXPECT_TRUE(logged("HeadlessFrame::quit", "headless run: quit"));

  // The emulator keeps running until it is ended, as the real one does.
  EXPECT_EQ(platform::endProcessesByName(L"varedori.exe", true).size(), 1u);
}

TEST_F(HeadlessRunTest, WithoutNetworkTheCheckIsRepeatedOnceAndTheRunEnds) {
  prepare(R"("connected": false)", R"("noNetworkRetry": 50)");
  ASSERT_EQ(runInstaller(), 0);
  EXPECT_EQ(messages("BXDownloaderModel::_threadCheckMainExe"),
            (std::vector<std::string>{"no net!!", "no net!!"}));
  EXPECT_TRUE(logged("HeadlessFrame::onNetworkUnavailable", "headless run: still no network, giving up"));
  EXPECT_FALSE(hostFileExists(installHost() + "/zkinst_9.1.2.exe")) << "nothing was downloaded";
  EXPECT_EQ(reportedKeys(), std::vector<std::string>{"start_download"});
}

TEST_F(HeadlessRunTest, AnInstallerErrorIsReportedAndTheEmulatorIsNotStarted) {
  prepare();
  ASSERT_EQ(runInstaller({"VIREO_STANDIN_INSTALLER=fail=5"}), 0);
  EXPECT_FALSE(hostFileExists(installHost() + "/varedori-starts.txt"));
  EXPECT_TRUE(logged("BXDownloaderImpl::onInstallError", "install error 5"));
  EXPECT_TRUE(logged("HeadlessFrame::onInstallFinished",
                     "headless run: the full installer reported an error"));
  std::vector<Upload> all = uploads();
  bool found = false;
  for (const Upload& u : all) {
    for (size_t i = 0; i < u.keys.size(); ++i) {
      found = found || (u.keys[i] == "downloader_install_fail" && u.reasons[i] == "errorcode_5");
    }
  }
  EXPECT_TRUE(found);
  std::vector<std::string> keys = reportedKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "call_zud"), 0);
}

// The installer runs as root through sudo (simulated: what sudo leaves in the
// environment, for the user "nobody", whose folders the sandbox's drives
// are): what it and the full installer write there stays the user's, and the
// emulator runs as the user, not as root.
TEST_F(HeadlessRunTest, UnderSudoTheEmulatorRunsAsTheInvokingUser) {
  if (geteuid() != 0) GTEST_SKIP() << "the installer's elevation is simulated only as root";
  struct passwd* user = getpwnam("nobody");
  if (!user || user->pw_uid == 0) GTEST_SKIP() << "no unprivileged user \"nobody\" here";
  prepare();
  chmod(sandbox_.folder().c_str(), 0711);
  for (char drive : {'C', 'D'}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(sandbox_.driveRoot(drive))) {
      lchown(entry.path().c_str(), user->pw_uid, user->pw_gid);
    }
    lchown(sandbox_.driveRoot(drive).c_str(), user->pw_uid, user->pw_gid);
  }
  ASSERT_EQ(runInstaller({"SUDO_UID=" + std::to_string(user->pw_uid),
                          "SUDO_GID=" + std::to_string(user->pw_gid), "SUDO_USER=nobody"}),
            0);
  auto starts = recordLines(installHost() + "/varedori-starts.txt");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(numberOf(*starts[0], "uid"), static_cast<long long>(user->pw_uid));
  EXPECT_EQ(textOf(*starts[0], "arguments"),
            "apk=|show=true|package=com.example.game|downloadgameid=1024");
  struct stat st;
  for (const std::string& path : {installHost(), installHost() + "/zkinst_9.1.2.exe", dataHost(),
                                  dataHost() + "/data.ini"}) {
    ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_uid, user->pw_uid) << path;
  }
}

}  // namespace
}  // namespace e2e_tests
