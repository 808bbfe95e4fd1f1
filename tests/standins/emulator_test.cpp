// The emulator stand-in (varedori.exe): it records the exact argument text,
// the user and the show flag of each start, and runs until it is ended.
#include <unistd.h>

#include "platform/code_pages.h"
#include "standin_fixture.h"

namespace vireo::testing {
namespace {

class EmulatorTest : public ::testing::Test {
 protected:
  EmulatorTest() : profile_(sandbox_) {
    installProgram(binFile("standin-emulator"), sandbox_.driveRoot('C') + "/Vireo9/varedori.exe");
  }
  std::string record() const { return sandbox_.driveRoot('C') + "/Vireo9/varedori-starts.txt"; }

  std::unique_ptr<platform::Process> start(const std::wstring& arguments, bool show) {
    platform::StartOptions options;
    options.show = show;
    return platform::Process::start(L"\"C:\\Vireo9\\varedori.exe\" " + arguments, options);
  }

  // Waits until the record file has `count` lines.
  bool waitForStarts(size_t count) {
    for (int i = 0; i < 2000; ++i) {
      if (hostFileExists(record()) && recordLines(record()).size() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  Sandbox sandbox_;
  ProfileScope profile_;
};

TEST_F(EmulatorTest, RecordsItsExactArgumentTextAndRunsUntilEnded) {
  const std::wstring arguments = L"apk=D:\\tallis\\Vireo9\\游戏 1.apk|show=true|package=com.tallis.game";
  auto process = start(arguments, false);
  ASSERT_TRUE(process);
  ASSERT_TRUE(waitForStarts(1));
  auto starts = recordLines(record());
  EXPECT_EQ(textOf(*starts[0], "commandLine"),
            platform::wideToUtf8(L"\"C:\\Vireo9\\varedori.exe\" " + arguments));
  EXPECT_EQ(textOf(*starts[0], "arguments"), platform::wideToUtf8(arguments));
  EXPECT_EQ(numberOf(*starts[0], "uid"), static_cast<long long>(getuid()));
  EXPECT_EQ(numberOf(*starts[0], "show"), SW_HIDE);
  EXPECT_EQ(numberOf(*starts[0], "pid"), static_cast<long long>(process->id()));

  EXPECT_EQ(process->wait(300), WAIT_TIMEOUT) << "it keeps running";
  std::vector<std::uint32_t> ended = platform::endProcessesByName(L"varedori.exe", true);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0], process->id());
  EXPECT_EQ(process->wait(5000), WAIT_OBJECT_0);
}

TEST_F(EmulatorTest, APoliteEndRequestEndsItCleanly) {
  auto process = start(L"package=com.tallis.game", true);
  ASSERT_TRUE(process);
  ASSERT_TRUE(waitForStarts(1));
  EXPECT_EQ(numberOf(*recordLines(record())[0], "show"), SW_SHOW);
  std::uint32_t id = process->id();
  auto signalled = platform::endMatchingProcesses(
      [id](const platform::ProcessEntry& entry) { return entry.pid == id; }, false, false);
  ASSERT_EQ(signalled.size(), 1u);
  ASSERT_EQ(process->wait(5000), WAIT_OBJECT_0);
  EXPECT_EQ(process->exitCode(), 0u);

  // A second start adds its own line.
  auto again = start(L"", false);
  ASSERT_TRUE(again);
  ASSERT_TRUE(waitForStarts(2));
  EXPECT_EQ(textOf(*recordLines(record())[1], "arguments"), "");
  platform::endProcessesByName(L"varedori.exe", true);
  EXPECT_EQ(again->wait(5000), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace vireo::testing
