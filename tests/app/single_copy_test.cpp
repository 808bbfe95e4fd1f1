// One running copy per user and sandbox: a second copy only wakes the first
// through its IPC endpoint and ends; a first copy that died blocks nothing;
// two sandboxes (namespaces) never see each other.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "config/installer_contract.h"
#include "platform/drives.h"
#include "platform/machine_profile.h"
#include "support/installer_process.h"
#include "support/sandbox.h"
#include "utility/window_ipc.h"

namespace {

using vireo::testing::InstallerProcess;
using vireo::testing::messagesOf;
using vireo::testing::Sandbox;

// The services are closed, so the run waits for the default address; a long
// tick keeps the first copy alive until the test ends it.
constexpr const char* kProfileKeys = R"("timeouts": {"exitPause": 10, "defaultUrlTick": 60000})";
constexpr const char* kName = "vireo9_com.example.game_20391_1.exe";

// Waits until the sandbox's IPC endpoint exists (seen from this process).
bool waitForEndpoint(const Sandbox& box) {
  box.installInProcess();
  bool found = false;
  for (int i = 0; i < 300 && !found; ++i) {
    utility::WindowIPC peer;
    found = peer.open(contract::kIpcClassName);
    if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  platform::installMachineProfile({});
  platform::resetDriveTable();
  return found;
}

int count(const std::vector<std::string>& messages, const std::string& text) {
  int n = 0;
  for (const auto& m : messages) n += m == text;
  return n;
}

TEST(SingleCopy, ASecondCopyWakesTheFirstOnceAndEnds) {
  Sandbox box({{'C', ""}}, kProfileKeys);
  InstallerProcess first(box, kName);
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(waitForEndpoint(box));

  InstallerProcess second(box, "copy2/" + std::string(kName));
  ASSERT_TRUE(second.start());
  EXPECT_EQ(second.wait(), 0);
  ASSERT_TRUE(first.waitForLog("onHandleWindowIPC, msg = 11123"));

  first.terminate();
  EXPECT_EQ(first.wait(), 0);
  auto log = first.log();
  EXPECT_EQ(count(messagesOf(log, "BXDownloaderImpl::onHandleWindowIPC"),
                  "onHandleWindowIPC, msg = 11123"),
            1);
  auto pops = messagesOf(log, "BXDownloaderModel::popupExistPwnd");
  EXPECT_EQ(count(pops, "CCmdLine::popupExistPwnd not exist"), 1);
  EXPECT_EQ(count(pops, "BXDownloaderModel::popupExistPwnd exist"), 1);
  EXPECT_EQ(count(messagesOf(log, "BXDownloaderImpl::entrance"), "It's exist"), 1);
}

TEST(SingleCopy, AFirstCopyThatDiedBlocksNothing) {
  Sandbox box({{'C', ""}}, kProfileKeys);
  {
    InstallerProcess first(box, kName);
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(waitForEndpoint(box));
    ASSERT_TRUE(first.waitForLog("CCmdLine::popupExistPwnd not exist"));
    kill(first.pid(), SIGKILL);  // our own child
    first.wait();
  }
  InstallerProcess next(box, kName);
  ASSERT_TRUE(next.start());
  ASSERT_TRUE(waitForEndpoint(box));
  next.terminate();
  EXPECT_EQ(next.wait(), 0);
  auto pops = messagesOf(next.log(), "BXDownloaderModel::popupExistPwnd");
  EXPECT_EQ(count(pops, "CCmdLine::popupExistPwnd not exist"), 2);
  EXPECT_EQ(count(pops, "BXDownloaderModel::popupExistPwnd exist"), 0);
}

TEST(SingleCopy, TwoNamespacesRunSideBySide) {
  Sandbox a({{'C', ""}}, kProfileKeys);
  Sandbox b({{'C', ""}}, kProfileKeys);
  InstallerProcess first(a, kName);
  InstallerProcess other(b, kName);
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(other.start());
  ASSERT_TRUE(waitForEndpoint(a));
  ASSERT_TRUE(waitForEndpoint(b));
  first.terminate();
  other.terminate();
  EXPECT_EQ(first.wait(), 0);
  EXPECT_EQ(other.wait(), 0);
  for (const auto* process : {&first, &other}) {
    auto pops = messagesOf(process->log(), "BXDownloaderModel::popupExistPwnd");
    EXPECT_EQ(count(pops, "CCmdLine::popupExistPwnd not exist"), 1);
    EXPECT_EQ(count(pops, "BXDownloaderModel::popupExistPwnd exist"), 0);
  }
}

TEST(SingleCopy, ALogoutEndsTheLoopAndTheTeardownRuns) {
  Sandbox box({{'C', ""}}, kProfileKeys);
  InstallerProcess first(box, kName);
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(waitForEndpoint(box));
  auto before = std::chrono::steady_clock::now();
  first.terminate();
  EXPECT_EQ(first.wait(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
}

}  // namespace
