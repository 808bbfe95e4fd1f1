// The process helpers on real child processes (the utility-child fixture,
// copied into the sandbox's C: drive so that snapshots see it).
#include "utility/uprocess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "log_capture.h"
#include "platform/clock.h"
#include "platform/processes.h"
#include "run_program.h"
#include "scoped_sandbox.h"

namespace proc = utility::process;
using utility_tests::LogCapture;
using utility_tests::ScopedSandbox;
using vireo::testing::readHostFile;

namespace {

const wchar_t* const kChild = L"C:\\tools\\child.exe";

class ProcessHelpers : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tools = sandbox_.driveRoot('C') + "/tools";
    std::filesystem::create_directories(tools);
    std::filesystem::copy_file(utility_tests::binPath("utility-child"), tools + "/child.exe");
    record_ = sandbox_.folder() + "/command-lines.txt";
    setenv("UTILITY_CHILD_RECORD", record_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("UTILITY_CHILD_RECORD");
    // Only the sandbox's own children are visible to this.
    platform::endProcessesByName(L"child.exe", true);
  }

  // The command lines the children recorded, one per line, after `count`
  // children have started (they record as their first step).
  std::string recorded(size_t count) const {
    std::string text;
    for (std::uint32_t start = platform::tickCount(); platform::tickCount() - start < 5000;) {
      text = readHostFile(record_);
      if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= count) break;
      platform::sleepMs(10);
    }
    return text;
  }

  ScopedSandbox sandbox_;
  LogCapture log_;
  std::string record_;
};

TEST_F(ProcessHelpers, ExecuteIsTrueExactlyForExitCodeZero) {
  struct Case {
    const wchar_t* parameters;
    bool result;
    const wchar_t* logged;
  };
  const Case cases[] = {
      {L"exit 0", true, L"execute exitcode = 0 lastError = 0"},
      {L"", true, L"execute exitcode = 0 lastError = 0"},
      {L"exit 3", false, L"execute exitcode = 3 lastError = 0"},
      {L"exit 255", false, L"execute exitcode = 255 lastError = 0"},
  };
  for (const auto& c : cases) {
    log_.clear();
    EXPECT_EQ(proc::execute(kChild, c.parameters, false, 10000), c.result) << c.parameters;
    auto messages = log_.messages("utility::process::execute");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], c.logged);
    EXPECT_TRUE(log_.has("utility::process::create",
                         std::wstring(L"createProcess filename = [") + kChild + L"], param = [" +
                             c.parameters + L"], show = 0"));
  }
}

TEST_F(ProcessHelpers, ExecuteTimesOutAndLeavesTheChildRunning) {
  std::uint32_t start = platform::tickCount();
  EXPECT_FALSE(proc::execute(kChild, L"sleep 3000", true, 200));
  EXPECT_LT(platform::tickCount() - start, 2500u);
  EXPECT_TRUE(log_.has("utility::process::execute", L"execute timeout!!!"));
  std::map<std::wstring, DWORD> running;
  proc::getProcessRunningMac(running);
  EXPECT_EQ(running.count(L"child.exe"), 1u);
}

TEST_F(ProcessHelpers, ATimeOutOfZeroReturnsOnceStartedWhateverTheExitCode) {
  std::uint32_t start = platform::tickCount();
  EXPECT_TRUE(proc::execute(kChild, L"sleep 1500", false, 0));
  EXPECT_TRUE(proc::execute(kChild, L"exit 9", false, 0));
  EXPECT_LT(platform::tickCount() - start, 1000u);
  EXPECT_TRUE(log_.messages("utility::process::execute").empty());
}

TEST_F(ProcessHelpers, CreatePassesTheQuotedFileAndTheParameters) {
  DWORD pid = 0;
  auto quiet = proc::create(kChild, L"", false, &pid);
  ASSERT_TRUE(quiet);
  EXPECT_EQ(pid, quiet->id());
  EXPECT_EQ(quiet->wait(10000), WAIT_OBJECT_0);
  auto talking = proc::create(kChild, L"exit 0 \"two words\"", true);
  ASSERT_TRUE(talking);
  EXPECT_EQ(talking->wait(10000), WAIT_OBJECT_0);
  EXPECT_EQ(recorded(2),
            "\"C:\\tools\\child.exe\"\n"
            "\"C:\\tools\\child.exe\" exit 0 \"two words\"\n");
}

TEST_F(ProcessHelpers, AMissingProgramFailsWithItsReason) {
  EXPECT_FALSE(proc::execute(L"C:\\tools\\missing.exe", L"x", false, 1000));
  EXPECT_TRUE(log_.has("utility::process::create", L"createProcess failed!!! lastError = 2"));
  EXPECT_TRUE(log_.has("utility::process::execute", L"execute failed!!! last error = 2"));
  EXPECT_FALSE(proc::create(L"C:\\tools\\missing.exe", L"", true));
}

TEST_F(ProcessHelpers, ShellStartsTheProgramWithItsParameters) {
  EXPECT_TRUE(proc::shell(kChild, L"package=com.example.game", true, false));
  EXPECT_EQ(recorded(1), "\"C:\\tools\\child.exe\" package=com.example.game\n");
  EXPECT_TRUE(log_.has("utility::process::shell",
                       L"shell filename = [C:\\tools\\child.exe], param = "
                       L"[package=com.example.game], runas = 1, show = 0"));
  EXPECT_TRUE(log_.has("utility::process::shell", L"shellEx ret . lastError = 0"));

  log_.clear();
  EXPECT_FALSE(proc::shell(L"C:\\tools\\missing.exe", L"", false, true));
  auto messages = log_.messages("utility::process::shell");
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[1], L"shellEx ret . lastError = 2");
  EXPECT_EQ(messages[2], L"shellEx failed!!! lastError = 2");
}

TEST_F(ProcessHelpers, TheSnapshotMapsNamesToTheFirstProcess) {
  std::map<std::wstring, DWORD> before = {{L"kept.exe", 1}};
  proc::getProcessRunningMac(before);  // nothing of the sandbox runs yet
  EXPECT_EQ(before, (std::map<std::wstring, DWORD>{{L"kept.exe", 1}}));
  EXPECT_TRUE(log_.has("utility::process::getProcessRunningMac",
                       L"process32First failed! err = 18"));

  DWORD first = 0, second = 0;
  auto a = proc::create(kChild, L"sleep 3000", false, &first);
  auto b = proc::create(kChild, L"sleep 3000", false, &second);
  ASSERT_TRUE(a && b);
  recorded(2);
  std::map<std::wstring, DWORD> running;
  proc::getProcessRunningMac(running);
  ASSERT_EQ(running.size(), 1u);
  EXPECT_EQ(running[L"child.exe"], std::min(first, second));  // the snapshot is in id order
}

}  // namespace
