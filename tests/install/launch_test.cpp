// Starting the emulator after the installation: the argument texts that reach
// the emulator stand-in, the "call_zud" report, the start without the
// installer's elevated rights (sudo simulated as root) and the elevated
// fall-back on Windows 7 and for a command line too long for the token start.
#include <sys/stat.h>

#include <filesystem>

#include "install_fixture.h"
#include "model/process_control.h"
#include "platform/code_pages.h"
#include "sudo_scope.h"

namespace install_tests {
namespace {

class LaunchTest : public InstallTest {
 protected:
  explicit LaunchTest(std::string profileKeys = "") : InstallTest(std::move(profileKeys)) {
    placeEmulator();
  }

  // The argument text and user of each emulator start so far.
  std::vector<std::pair<std::string, long long>> starts(size_t count) {
    std::vector<std::pair<std::string, long long>> out;
    for (const auto& line : emulatorStarts(count)) {
      out.emplace_back(textOf(*line, "arguments"), numberOf(*line, "uid"));
    }
    return out;
  }
};

struct RunGameCase {
  std::wstring gameId, packageName;
  std::string arguments;
};

TEST_F(LaunchTest, RunGameStartsTheEmulatorWithEachOfItsArgumentForms) {
  const RunGameCase cases[] = {
      {L"1024", L"com.tallis.game", "downloadgameid=1024|package=com.tallis.game"},
      {L"", L"com.tallis.game", "downloadpackage=com.tallis.game|package=com.tallis.game"},
      {L"", L"", ""},
  };
  size_t count = 0;
  for (const auto& c : cases) {
    model_->gameId = c.gameId;
    model_->packageName = c.packageName;
    model_->runGame();
    auto seen = starts(++count);
    ASSERT_EQ(seen.size(), count);
    EXPECT_EQ(seen.back().first, c.arguments);
    platform::endProcessesByName(L"varedori.exe", true);
  }
  EXPECT_EQ(reported("call_zud").size(), 3u);
  EXPECT_TRUE(log_.has("BXDownloaderModel::runPlayer", L"downloadgameid=1024|package=com.tallis.game"));
}

TEST_F(LaunchTest, TheEmulatorGetsTheQuotedProgramAndTheArgumentText) {
  const std::wstring arguments =
      L"apk=|show=true|package=com.tallis.game|downloadpackage=com.tallis.game";
  model_->runPlayer(arguments);
  auto lines = emulatorStarts(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(textOf(*lines[0], "commandLine"),
            platform::wideToUtf8(L"\"D:\\tallis\\Vireo9\\\\varedori.exe\" " + arguments));
  EXPECT_FALSE(log_.has("BXDownloaderModel::runPlayer", L"runPlayer no amdin error 0"));
}

TEST_F(LaunchTest, ACommandLineTooLongForTheTokenStartFallsBackToTheShell) {
  const std::wstring arguments = L"package=" + std::wstring(1100, L'g');
  EXPECT_EQ(launchWithShellToken(L"D:\\tallis\\Vireo9\\varedori.exe", arguments), -1);
  model_->runPlayer(arguments);
  auto seen = starts(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, platform::wideToUtf8(arguments));
  EXPECT_TRUE(log_.has("BXDownloaderModel::runPlayer",
                       L"runPlayer no amdin error " + std::to_wstring(ERROR_INSUFFICIENT_BUFFER)));
  EXPECT_EQ(reported("call_zud").size(), 1u);
}

// The installer runs as root through sudo: the emulator must run as the user.
class ElevatedLaunchTest : public LaunchTest {
 protected:
  explicit ElevatedLaunchTest(std::string profileKeys = "") : LaunchTest(std::move(profileKeys)) {}

  void SetUp() override {
    LaunchTest::SetUp();
    if (std::string why = sudo_.unusableReason(); !why.empty()) GTEST_SKIP() << why;
    // The user reaches the sandbox and owns its drives, as a user's own
    // folders are.
    chmod(sandbox_.folder().c_str(), 0711);
    for (char drive : {'C', 'D'}) {
      for (const auto& entry :
           std::filesystem::recursive_directory_iterator(sandbox_.driveRoot(drive))) {
        lchown(entry.path().c_str(), sudo_.uid, sudo_.gid);
      }
      lchown(sandbox_.driveRoot(drive).c_str(), sudo_.uid, sudo_.gid);
    }
  }

  SudoScope sudo_;
};

TEST_F(ElevatedLaunchTest, OnWindows8AndLaterTheEmulatorRunsAsTheInvokingUser) {
  model_->runPlayer(L"package=com.tallis.game");
  auto seen = starts(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, "package=com.tallis.game");
  EXPECT_EQ(seen[0].second, static_cast<long long>(sudo_.uid)) << "not the installer's root";
}

class Windows7LaunchTest : public ElevatedLaunchTest {
 protected:
  Windows7LaunchTest() : ElevatedLaunchTest(R"("windows": {"major": 6, "minor": 1, "build": 7601})") {}
};

TEST_F(Windows7LaunchTest, OnWindows7TheElevatedShellStartIsTheOnlyOne) {
  model_->runPlayer(L"package=com.tallis.game");
  auto seen = starts(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].second, 0) << "the shell start keeps the installer's rights";
  EXPECT_TRUE(log_.messages("BXDownloaderModel::runPlayer").empty())
      << "no token start was tried";
  EXPECT_EQ(reported("call_zud").size(), 1u);
}

}  // namespace
}  // namespace install_tests
