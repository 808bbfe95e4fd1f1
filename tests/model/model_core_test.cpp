// The model's start and end: init computes the location, starts the
// reporter and resolves the address in the background; the default-address
// tick and teardown stop a resolution that hangs, within their limits.
#include <string>

#include "model_fixture.h"
#include "report/zk_reporter.h"

namespace model_tests {
namespace {

constexpr const char* kAnswer = R"({"zud9": {"url": "https://h/9.exe", "ver": "9.1.2"}})";
constexpr const char* kLetGoFunction = "BXDownloaderModel::stopWithinLimit";

TEST_F(ModelTest, InitResolvesTheAddressInTheBackground) {
  serve();
  serveFile("/zk/tallisex", kAnswer);
  model().init(nullptr);
  // The edition's folder on the only drive.
  EXPECT_EQ(model().getInstallPath(), L"C:\\tallis\\Vireo9\\");
  ASSERT_TRUE(runLoopUntil([this] { return !model().getPlayerAddress().url.empty(); }, 10000));
  EXPECT_EQ(model().getPlayerAddress().url, L"https://h/9.exe");
  EXPECT_EQ(model().getPlayerAddress().version, L"9.1.2");
  // The reporter runs and uploads to the analytics service.
  ZKReporter::getInstance()->report(L"start_download");
  ZKReporter::getInstance()->flush();
  EXPECT_TRUE(waitForReport("start_download"));

  const auto start = Clock::now();
  model().uninit();
  EXPECT_LT(millisecondsSince(start), 1000);
  EXPECT_TRUE(messages(kLetGoFunction).empty());
}

TEST_F(ModelTest, TeardownEndsAResolutionThatHangsWithinTheLimit) {
  BackendOptions options;
  options.faults = {"/zk/tallisex:stall-before=8000"};
  serve(options);
  serveFile("/zk/tallisex", kAnswer);
  model().init(nullptr);
  runLoopFor(300);
  const auto start = Clock::now();
  model().uninit();
  EXPECT_LT(millisecondsSince(start), 1500);
  EXPECT_TRUE(messages(kLetGoFunction).empty());
  // Stopped before it had an answer: nothing was written afterwards.
  runLoopFor(200);
  EXPECT_TRUE(model().getPlayerAddress().url.empty());
}

TEST_F(ModelTest, TheDefaultAddressTickStopsAResolutionThatHangs) {
  BackendOptions options;
  options.faults = {"/zk/tallisex:stall-before=8000"};
  serve(options, "\"timeouts\": {\"defaultUrlTick\": 300}");
  serveFile("/zk/tallisex", kAnswer);
  serveInstaller();
  model().init(nullptr);
  const auto start = Clock::now();
  defaultAddressTimerUsed() = true;
  model().startDownloadPlayerEx();
  ASSERT_TRUE(runLoopUntil([this] { return notified_.outcomes() > 0; }, 10000));
  EXPECT_EQ(notified_.succeeded, 1);
  // Two ticks and the download; the hanging request held nothing up.
  EXPECT_LT(millisecondsSince(start), 3000);
  EXPECT_TRUE(messages(kLetGoFunction).empty());
  const PlayerAddress address = model().getPlayerAddress();
  EXPECT_EQ(address.url, ConfigImp::getInstance()->getDefaultInstallerUrl());
  // No version arrived: the file is named after the moment.
  ASSERT_FALSE(address.version.empty());
  EXPECT_TRUE(hostFileExists(sandbox_.driveRoot('C') + "/tallis/Vireo9/zkinst_" +
                             utility::ustring::wideToUtf8(address.version) + ".exe"));
}

}  // namespace
}  // namespace model_tests
