#include <gtest/gtest.h>

#include <thread>

#include "platform/shell.h"
#include "probe_support.h"

namespace {

using vireo::testing::ProfileScope;
using vireo::testing::readHostFile;
using vireo::testing::Sandbox;

// Under a profile nothing leaves the sandbox: addresses and restart requests
// are only recorded (these tests must never reach a browser or logind).
TEST(Shell, UnderAProfileAddressesAreRecordedNotOpened) {
  Sandbox sandbox;
  ProfileScope scope(sandbox);
  EXPECT_TRUE(platform::openUrl(L"https://127.0.0.1:8443/game?id=1&x=模拟器"));
  EXPECT_TRUE(platform::openUrl(L"file:///etc/passwd"));
  std::vector<std::thread> openers;
  for (int t = 0; t < 4; ++t) {
    openers.emplace_back([t] {
      for (int i = 0; i < 25; ++i) platform::openUrl(L"http://127.0.0.1/" + std::to_wstring(t * 100 + i));
    });
  }
  for (auto& t : openers) t.join();
  std::string text = readHostFile(sandbox.folder() + "/opened-urls.txt");
  EXPECT_EQ(text.rfind("https://127.0.0.1:8443/game?id=1&x=\xE6\xA8\xA1\xE6\x8B\x9F\xE5\x99\xA8\n"
                       "file:///etc/passwd\n", 0), 0u) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 102) << "no line lost or torn";
}

TEST(Shell, UnderAProfileRestartsAreOnlyRecorded) {
  Sandbox sandbox;
  ProfileScope scope(sandbox);
  EXPECT_TRUE(platform::enableShutdownPrivilege());
  EXPECT_TRUE(platform::requestRestart());
  EXPECT_EQ(readHostFile(sandbox.folder() + "/restart-requests.txt"),
            "enableShutdownPrivilege\nrequestRestart\n");
}

}  // namespace
