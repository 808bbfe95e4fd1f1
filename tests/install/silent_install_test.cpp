// The silent installation: the full installer's exact command line, the
// outcomes of starting and waiting for it (reported reasons, customisation,
// the end-of-install notice), the cache record, and ending the emulator's
// processes before it runs.
#include <sys/stat.h>

#include "install_fixture.h"
#include "model/silent_install.h"
#include "platform/code_pages.h"

namespace install_tests {
namespace {

constexpr const char* kInstallerName = "zkinst_9.1.2.exe";

class SilentInstallTest : public InstallTest {
 protected:
  SilentInstallTest() : InstallTest(R"("timeouts": {"installerWait": 400, "taskkillWait": 5000})") {
    PlayerAddress address;
    address.version = L"9.1.2";
    model_->setPlayerAddress(address);
    model_->notify.onInstallFinished = [this](bool started) {
      finished_.push_back(started);
      stateAtFinish_ = model_->getState();
    };
  }

  std::string installerHost() const { return installHost() + "/" + kInstallerName; }
  void placeFullInstaller() { installProgram(releaseInstaller("zkinst9.0.exe"), installerHost()); }

  // startInstall, then the loop until the end-of-install notice.
  bool installAndWait() {
    model_->startInstall();
    EXPECT_EQ(model_->getState(), kStateInstalling);
    EXPECT_TRUE(model_->getInstallLaunched());
    return runLoopUntil([this] { return !finished_.empty(); });
  }

  std::vector<ReportedEvent> installEvents() {
    std::vector<ReportedEvent> out;
    for (const auto& e : reportedEvents()) {
      if (e.key == "start_install" || e.key == "downloader_install_fail") out.push_back(e);
    }
    return out;
  }

  std::vector<bool> finished_;
  int stateAtFinish_ = -1;
};

TEST_F(SilentInstallTest, ParameterTextCarriesTheOpenidAndTheQuotedFolder) {
  EXPECT_EQ(model_->installParameters(),
            L"-silence -downloader -openid=20391 -path=\"D:\\tallis\\Vireo9\\\"");
  model_->openid.clear();
  EXPECT_EQ(model_->installParameters(), L"-silence -downloader -openid= -path=\"D:\\tallis\\Vireo9\\\"");
}

// What the full installer itself reads as its command line.
TEST_F(SilentInstallTest, TheFullInstallerGetsTheQuotedPathAndTheParameters) {
  EnvironmentScope behaviour("VIREO_STANDIN_INSTALLER", "fail=5");
  installProgram(releaseInstaller("zkinst9.0.exe"), sandbox_.driveRoot('C') + "/d/zkinst_9.1.2.exe");
  ASSERT_TRUE(install_player(L"C:\\d\\zkinst_9.1.2.exe", model_->installParameters()));
  auto starts = recordLines(installHost() + "/full-installer-starts.txt");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(textOf(*starts[0], "commandLine"),
            "\"C:\\d\\zkinst_9.1.2.exe\" -silence -downloader -openid=20391 "
            "-path=\"D:\\tallis\\Vireo9\\\"");
  EXPECT_EQ(textOf(*starts[0], "openid"), "20391");
  EXPECT_TRUE(log_.has("install_player", L"install player wait"));
  EXPECT_TRUE(log_.has("install_player", L"install player complete"));
}

TEST_F(SilentInstallTest, AnInstallationEndsWithTheStateInstalledAndTheCacheRecord) {
  placeFullInstaller();
  ASSERT_TRUE(installAndWait());
  EXPECT_EQ(finished_, std::vector<bool>{true});
  EXPECT_EQ(stateAtFinish_, kStateInstalled);
  EXPECT_TRUE(hostFileExists(installHost() + "/varedori.exe")) << "the full installer ran";
  EXPECT_TRUE(log_.has("BXDownloaderModel::_threadInstallPlayer",
                       L"install player param: -silence -downloader -openid=20391 "
                       L"-path=\"D:\\tallis\\Vireo9\\\""));
  EXPECT_TRUE(log_.has("BXDownloaderModel::_threadInstallPlayer", L"start save config"));
  // The record names the installer in the ANSI code page, without terminator.
  EXPECT_EQ(readHostFile(sandbox_.appDataHost() + "/vuriviredori/cachepath.data"),
            "D:\\tallis\\Vireo9\\zkinst_9.1.2.exe");
  EXPECT_EQ(installEvents(), (std::vector<ReportedEvent>{{"start_install", ""}}));
}

TEST_F(SilentInstallTest, AHangingInstallerTimesOutAndTheInstallationStillEnds) {
  EnvironmentScope behaviour("VIREO_STANDIN_INSTALLER", "hang");
  placeFullInstaller();
  ASSERT_TRUE(installAndWait());
  EXPECT_EQ(finished_, std::vector<bool>{true}) << "the process had started";
  EXPECT_TRUE(log_.has("install_player", L"install player timeout"));
  EXPECT_TRUE(log_.has("BXDownloaderModel::_threadInstallPlayer", L"start save config"))
      << "the customisation runs after a time-out";
  EXPECT_TRUE(hostFileExists(installHost() + "/data")) << "applyGameConfig made the data folder";
  EXPECT_EQ(installEvents(), (std::vector<ReportedEvent>{{"start_install", ""},
                                                         {"downloader_install_fail", "runerror_timeout"}}));
  // The hanging installer keeps running; it is ours to end.
  EXPECT_EQ(platform::endProcessesByName(platform::utf8ToWide(kInstallerName), true).size(), 1u);
}

TEST_F(SilentInstallTest, AMissingInstallerIsReportedTwiceAndEndsUnstarted) {
  ASSERT_TRUE(installAndWait());
  EXPECT_EQ(finished_, std::vector<bool>{false});
  EXPECT_EQ(stateAtFinish_, kStateInstalled);
  EXPECT_TRUE(log_.has("install_player", L"install player error : runerror_2"));
  EXPECT_EQ(installEvents(), (std::vector<ReportedEvent>{{"start_install", ""},
                                                         {"downloader_install_fail", "no_path"},
                                                         {"downloader_install_fail", "runerror_2"}}));
}

TEST_F(SilentInstallTest, AFileThatIsNotAProgramGivesBadExeFormat) {
  writeHostFile(installerHost(), "MZ this is not a program\n");
  ASSERT_TRUE(installAndWait());
  EXPECT_EQ(finished_, std::vector<bool>{false});
  EXPECT_EQ(installEvents(), (std::vector<ReportedEvent>{{"start_install", ""},
                                                         {"downloader_install_fail", "runerror_193"}}));
}

// A stop request (teardown) ends the wait at once; nothing follows it.
TEST_F(SilentInstallTest, TeardownDuringTheWaitEndsTheThreadWithoutCustomisation) {
  sandbox_.rewriteProfile(sandboxProfileKeys(backend_->baseUrl(), R"("timeouts": {"threadStop": 3000})"));
  sandbox_.installInProcess();
  EnvironmentScope behaviour("VIREO_STANDIN_INSTALLER", "hang");
  placeFullInstaller();
  model_->startInstall();
  ASSERT_TRUE(waitForFile(installHost() + "/full-installer-starts.txt"));
  auto before = std::chrono::steady_clock::now();
  model_->uninit();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3))
      << "the thread ended within its stop limit";
  EXPECT_FALSE(log_.has("BXDownloaderModel::_threadInstallPlayer", L"start save config"));
  runLoopUntil([] { return false; }, 200);
  EXPECT_TRUE(finished_.empty());
}

class EmulatorProcessesTest : public InstallTest {
 protected:
  EmulatorProcessesTest() : InstallTest(R"("timeouts": {"taskkillWait": 5000, "environmentCheck": 1500})") {}

  // Every copy started here is ours to end.
  void TearDown() override {
    for (const std::string& name : names_) platform::endProcessesByName(platform::utf8ToWide(name), true);
    for (auto& process : running_) process->wait(5000);
    InstallTest::TearDown();
  }

  // A running copy of the emulator stand-in under another name, in the sandbox.
  platform::Process& startCopy(const std::string& name) {
    names_.push_back(name);
    std::string host = sandbox_.driveRoot('D') + "/other/" + name;
    installProgram(binFile("standin-emulator"), host);
    auto process = platform::Process::start(L"\"" + platform::windowsPath(host) + L"\"");
    EXPECT_TRUE(process) << name;
    std::string record = sandbox_.driveRoot('D') + "/other/varedori-starts.txt";
    for (int i = 0; i < 1000 && recordLines(record).size() < running_.size() + 1; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    running_.push_back(std::move(process));
    return *running_.back();
  }

  std::vector<std::wstring> taskkillParameters() const {
    std::vector<std::wstring> out;
    for (const auto& m : log_.messages("utility::process::create")) {
      auto at = m.find(L"param = [");
      if (m.find(L"filename = [taskkill]") != std::wstring::npos && at != std::wstring::npos) {
        out.push_back(m.substr(at + 9, m.find(L']', at) - at - 9));
      }
    }
    return out;
  }

  // The environment check's answer and how long it took; `again` restarts
  // the check thread as the retry after a network failure does.
  std::pair<std::vector<bool>, std::chrono::milliseconds> environmentCheck(bool again = false) {
    std::vector<bool> results;
    model_->notify.onEnvironmentResult = [&](bool running) { results.push_back(running); };
    model_->notify.onNetworkUnavailable = [] { ADD_FAILURE() << "the sandbox is connected"; };
    auto start = std::chrono::steady_clock::now();
    if (again) {
      model_->restartEnvironmentCheck();
    } else {
      model_->startEnvironmentCheck();
    }
    runLoopUntil([&] { return !results.empty(); });
    return {results, std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)};
  }

  std::vector<std::unique_ptr<platform::Process>> running_;
  std::vector<std::string> names_;
};

TEST_F(EmulatorProcessesTest, EveryEmulatorProcessIsEndedBeforeInstallingInTableOrder) {
  // Started in another order than the table's.
  for (const char* name : {"bugreport.exe", "bxmultiplayerex.exe", "varedori.exe", "bxmultiplayer.exe"}) {
    startCopy(name);
  }
  platform::Process& unrelated = startCopy("notepad.exe");
  killPlayerProcesses();
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(running_[i]->wait(5000), WAIT_OBJECT_0) << i;
  EXPECT_EQ(unrelated.wait(0), WAIT_TIMEOUT);
  EXPECT_EQ(taskkillParameters(),
            (std::vector<std::wstring>{L"/F /IM varedori.exe /T", L"/F /IM bxmultiplayer.exe /T",
                                       L"/F /IM bxmultiplayerex.exe /T", L"/F /IM bugreport.exe /T"}));
}

TEST_F(EmulatorProcessesTest, OnlyTheEmulatorAndTheMultiPlayerCountAsRunning) {
  startCopy("bxmultiplayer.exe");
  startCopy("bugreport.exe");
  auto [results, elapsed] = environmentCheck();
  EXPECT_EQ(results, std::vector<bool>{false});
  EXPECT_GE(elapsed, std::chrono::milliseconds(1500)) << "the check lasts its minimum";
  EXPECT_EQ(running_[0]->wait(0), WAIT_TIMEOUT) << "the check ends nothing";
}

TEST_F(EmulatorProcessesTest, ARunningEmulatorIsReportedAtOnce) {
  bool again = false;
  for (const char* name : {"varedori.exe", "bxmultiplayerex.exe"}) {
    platform::Process& copy = startCopy(name);
    auto [results, elapsed] = environmentCheck(again);
    EXPECT_EQ(results, std::vector<bool>{true}) << name;
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500)) << name << ": no minimum when running";
    platform::endProcessesByName(platform::utf8ToWide(name), true);
    EXPECT_EQ(copy.wait(5000), WAIT_OBJECT_0);
    again = true;
  }
}

TEST_F(EmulatorProcessesTest, KillMainExeEndsTheEmulatorAndTheMultiPlayerOnly) {
  platform::Process& emulator = startCopy("varedori.exe");
  platform::Process& multiPlayerEx = startCopy("bxmultiplayerex.exe");
  platform::Process& multiPlayer = startCopy("bxmultiplayer.exe");
  model_->killMainExe();
  EXPECT_EQ(emulator.wait(5000), WAIT_OBJECT_0);
  EXPECT_EQ(multiPlayerEx.wait(5000), WAIT_OBJECT_0);
  EXPECT_EQ(multiPlayer.wait(0), WAIT_TIMEOUT);
  EXPECT_TRUE(log_.has("BXDownloaderModel::killMainExe", L"varedori.exe running"));
  EXPECT_TRUE(log_.has("BXDownloaderModel::killMainExe", L"bxmultiplayerex.exe running"));
}

class NoNetworkTest : public InstallTest {
 protected:
  NoNetworkTest() : InstallTest(R"("connected": false, "timeouts": {"noNetworkRetry": 1500})") {}
};

// The count of checks is process-wide, so this must be the process's first
// check, as it is when ctest runs each test on its own.
TEST_F(NoNetworkTest, TheFirstCheckAnswersAtOnceARepeatedOneAfterItsPause) {
  std::vector<std::chrono::milliseconds> answers;
  auto start = std::chrono::steady_clock::now();
  model_->notify.onNetworkUnavailable = [&] {
    answers.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start));
  };
  model_->notify.onEnvironmentResult = [](bool) { ADD_FAILURE() << "no network, no result"; };
  model_->startEnvironmentCheck();
  ASSERT_TRUE(runLoopUntil([&] { return answers.size() == 1; }));
  EXPECT_LT(answers[0], std::chrono::milliseconds(1500));
  start = std::chrono::steady_clock::now();
  model_->restartEnvironmentCheck();
  ASSERT_TRUE(runLoopUntil([&] { return answers.size() == 2; }));
  EXPECT_GE(answers[1], std::chrono::milliseconds(1500));
  EXPECT_EQ(log_.messages("BXDownloaderModel::_threadCheckMainExe"),
            (std::vector<std::wstring>{L"no net!!", L"no net!!"}));
}

}  // namespace
}  // namespace install_tests
