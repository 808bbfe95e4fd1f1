// The console stand-in (bxconsole.exe): it records each command line,
// installs a package into the emulator's data and takes note of a
// resolution; anything else is refused.
#include "platform/code_pages.h"
#include "standin_fixture.h"

namespace vireo::testing {
namespace {

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() : sandbox_({{'C', ""}, {'D', ""}}), profile_(sandbox_) {
    installProgram(binFile("standin-console"), sandbox_.driveRoot('D') + "/tallis/Vireo9/bxconsole.exe");
  }
  std::string folder() const { return sandbox_.driveRoot('D') + "/tallis/Vireo9"; }
  DWORD run(const std::wstring& arguments) {
    return runToEnd(L"\"D:\\tallis\\Vireo9\\bxconsole.exe\" " + arguments);
  }

  Sandbox sandbox_;
  ProfileScope profile_;
};

TEST_F(ConsoleTest, InstallapkCopiesThePackageIntoTheEmulatorsData) {
  std::string package(300000, '\0');
  for (size_t i = 0; i < package.size(); ++i) package[i] = static_cast<char>(i * 31 + i / 7);
  writeHostFile(sandbox_.driveRoot('D') + "/tallis/Vireo9/游戏 one.apk", package);
  const std::wstring command =
      L"installapk --index 0 --filename \"D:\\tallis\\Vireo9\\游戏 one.apk\" --wait --hide";
  EXPECT_EQ(run(command), 0u);
  EXPECT_EQ(readHostFile(folder() + "/vms/apps/游戏 one.apk"), package);

  auto commands = recordLines(folder() + "/bxconsole-commands.txt");
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(textOf(*commands[0], "arguments"), platform::wideToUtf8(command));
  EXPECT_EQ(textOf(*commands[0], "commandLine"),
            platform::wideToUtf8(L"\"D:\\tallis\\Vireo9\\bxconsole.exe\" " + command));
}

TEST_F(ConsoleTest, OtherCommandsAreRecordedAndAnsweredByTheirExitCodes) {
  struct Case {
    const wchar_t* arguments;
    DWORD exitCode;
  };
  const Case cases[] = {
      {L"modify --index 0 --resolution 1280,720", 0},
      {L"installapk --index 0 --filename \"D:\\missing.apk\" --wait --hide", 1},
      {L"installapk --index 1 --filename \"D:\\missing.apk\" --wait --hide", 2},
      {L"installapk --index 0 --wait --hide", 2},
      {L"modify --index 0", 2},
      {L"launch --index 0", 2},
      {L"", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.arguments), c.exitCode) << platform::wideToUtf8(c.arguments);
  }
  auto commands = recordLines(folder() + "/bxconsole-commands.txt");
  ASSERT_EQ(commands.size(), std::size(cases));
  EXPECT_EQ(textOf(*commands[0], "arguments"), "modify --index 0 --resolution 1280,720");
  EXPECT_FALSE(std::filesystem::exists(folder() + "/vms/apps/missing.apk"));
}

}  // namespace
}  // namespace vireo::testing
