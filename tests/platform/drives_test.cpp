#include <gtest/gtest.h>

#include "platform/code_pages.h"
#include "platform/drives.h"
#include "probe_support.h"

namespace {

using vireo::testing::ProfileScope;
using vireo::testing::Sandbox;

class DrivesTest : public ::testing::Test {
 protected:
  Sandbox sandbox{{{'C', ""}, {'D', "\"freeMiB\": 20000, \"ssd\": true, \"fs\": \"exFAT\", \"hotplug\": true"}}};
  ProfileScope scope{sandbox};
  std::string c = sandbox.driveRoot('C');
  std::string d = sandbox.driveRoot('D');
};

TEST_F(DrivesTest, TableListsTheProfileDrivesInLetterOrder) {
  ASSERT_EQ(platform::drives().size(), 2u);
  EXPECT_EQ(platform::drives()[0].letter, L'C');
  EXPECT_EQ(platform::drives()[1].root, d);
  EXPECT_NE(platform::findDrive(L'd'), nullptr);
  EXPECT_EQ(platform::findDrive(L'E'), nullptr);
}

TEST_F(DrivesTest, WindowsPathsBecomeHostPaths) {
  struct Case {
    std::wstring windows;
    std::string host;
  } cases[] = {
      {L"D:\\tallis\\Vireo9\\", d + "/tallis/Vireo9"},
      {L"d:/tallis/Vireo9", d + "/tallis/Vireo9"},
      {L"D:\\a\\\\b\\.\\c", d + "/a/b/c"},
      {L"D:\\a\\..\\b", d + "/b"},
      {L"D:\\..\\..\\etc\\passwd", d + "/etc/passwd"},  // never above the root
      {L"D:", d},
      {L"C:\\", c},
      {L"\\\\?\\D:\\long\\path", d + "/long/path"},
      {L"Z:\\usr\\bin", "/usr/bin"},
      {L"z:\\", "/"},
      {L"E:\\nowhere", ""},
      {L"\\\\server\\share\\x", ""},
      {std::wstring(L"D:\\a\0b", 6), ""},
      {L"", ""},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(platform::hostPath(k.windows), k.host) << platform::wideToUtf8(k.windows);
  }
}

TEST_F(DrivesTest, HostPathsBecomeWindowsPaths) {
  struct Case {
    std::string host;
    std::wstring windows;
  } cases[] = {
      {d + "/tallis/Vireo9", L"D:\\tallis\\Vireo9"},
      {d + "/tallis//x/", L"D:\\tallis\\x"},
      {d, L"D:\\"},
      {c + "/Users", L"C:\\Users"},
      {d + "-other/x", L"Z:" + platform::utf8ToWide(
                                    [&] {
                                      std::string w = d + "-other/x";
                                      for (auto& ch : w) ch = ch == '/' ? '\\' : ch;
                                      return w;
                                    }())},
      {"/usr/bin/env", L"Z:\\usr\\bin\\env"},
      {"/", L"Z:\\"},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(platform::windowsPath(k.host), k.windows) << k.host;
  }
}

TEST_F(DrivesTest, PathsRoundTripWithNonAsciiNames) {
  std::wstring path = L"D:\\游戏\\Vireo 9\\ünï.txt";
  EXPECT_EQ(platform::windowsPath(platform::hostPath(path)), path);
}

TEST_F(DrivesTest, VolumeFactsComeFromTheProfileFirst) {
  auto facts = platform::volumeFacts(L'd');
  EXPECT_TRUE(facts.readable);
  EXPECT_EQ(facts.freeBytes, 20000ull * 1048576ull);
  EXPECT_TRUE(facts.solidState);
  EXPECT_TRUE(facts.hotplug);
  EXPECT_EQ(facts.fileSystem, L"exFAT");
  auto measured = platform::volumeFacts(L'C');
  EXPECT_TRUE(measured.readable);
  EXPECT_GT(measured.freeBytes, 0u);
  EXPECT_FALSE(measured.fileSystem.empty());
  EXPECT_FALSE(platform::volumeFacts(L'Q').readable);
}

TEST(DrivesWithoutProfile, CIsTheHomeFolderAndZIsNeverListed) {
  platform::installMachineProfile({});
  platform::resetDriveTable();
  ASSERT_FALSE(platform::drives().empty());
  EXPECT_EQ(platform::drives()[0].letter, L'C');
  for (const auto& d : platform::drives()) EXPECT_NE(d.letter, L'Z');
}

}  // namespace
