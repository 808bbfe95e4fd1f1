// The full installer's download: reuse of a verified installer on disk, the
// cache record, the second stack's two attempts, the libcurl fall-back and
// its size floor, progress, the signature every installer must carry, the
// default address, and teardown in the middle of a transfer.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "model_fixture.h"
#include "report/zk_reporter.h"

namespace model_tests {
namespace {

constexpr const char* kStartFunction = "BXDownloaderModel::startDownloadPlayerEx";
constexpr const char* kModelFunction = "BXDownloaderModel::stopWithinLimit";
constexpr const char* kSignatureFunction = "checkInstallerSignature";
constexpr const char* kFinishFunction = "BXDownloaderModel::finishVerifiedDownload";
constexpr const char* kCurlFunction = "BXDownloaderModel::downloadByCurl";

class DownloadTest : public ModelTest {
 protected:
  void startReporter() { ZKReporter::getInstance()->start(L"", L"PCID-MODEL-TESTS"); }

  // The served installer as the address and spare address.
  void useServedInstaller() { setAddress(servedUrl(kInstallerPath), servedUrl(kInstallerPath)); }

  std::string installerBytes() { return installer(); }

  // The installer with one byte of its content changed.
  std::string tamperedInstaller() {
    std::string bytes = installerBytes();
    bytes[1000] = static_cast<char>(bytes[1000] ^ 0x01);
    return bytes;
  }

  // A program signed by a publisher the installer does not trust.
  std::string foreignSignedProgram() {
    const std::string folder = sandbox_.folder() + "/foreign-publisher";
    const std::string makePublisher = std::string(VIREO_SOURCE_DIR) +
                                      "/tools/standin-sign/make-publisher " + shellQuoted(folder) +
                                      " >/dev/null 2>&1";
    EXPECT_EQ(std::system(makePublisher.c_str()), 0);
    const std::string in = sandbox_.folder() + "/foreign.exe";
    const std::string out = sandbox_.folder() + "/foreign-signed.exe";
    writeHostFile(in, programBytes(1500000));
    EXPECT_TRUE(
        signFile(folder + "/publisher-signer.crt", folder + "/publisher-signer.key", in, out));
    return readHostFile(out);
  }

  // The events with `key` (and `reason`) that reached the analytics service.
  std::size_t countReports(const std::string& key, const std::string& reason) const {
    std::size_t count = 0;
    for (const auto& line : backend_->recordLines()) {
      rapidjson::Document record = parseJson(line);
      if (!record.IsObject() || !record["body"].IsArray()) continue;
      for (const auto& event : record["body"].GetArray()) {
        if (key != event["eventKey"].GetString()) continue;
        const auto& properties = event["properties"];
        if (properties.HasMember("failure_reason") &&
            reason == properties["failure_reason"].GetString()) {
          ++count;
        }
      }
    }
    return count;
  }

  std::vector<int> statuses() const {
    std::vector<int> out;
    for (const auto& request : getRequests()) out.push_back(request["status"].GetInt());
    return out;
  }

  std::wstring targetPath() const { return std::wstring(kInstallDir) + L"zkinst_9.1.2.exe"; }
};

TEST_F(DownloadTest, AVerifiedInstallerAtTheTargetIsReusedWithoutATransfer) {
  serve();
  startReporter();
  writeHostFile(hostTarget(), installerBytes());
  useServedInstaller();
  model().startDownloadPlayerEx();
  // Called directly, on this (the UI) thread, before the call returned.
  EXPECT_EQ(notified_.succeeded, 1);
  EXPECT_EQ(model().getState(), kStateDownloading);
  const auto real = messages(kRealFunction);
  EXPECT_EQ(real, (std::vector<std::wstring>{L"installer has downloaded", L"file sign ok"}));
  // "download_success" is flushed at once, with the start event queued before it.
  EXPECT_TRUE(waitForReport("downloader_start_install_success"));
  EXPECT_TRUE(waitForReport("download_success"));
  EXPECT_TRUE(getRequests().empty());
  runLoopFor(200);
  EXPECT_EQ(notified_.outcomes(), 1);
}

TEST_F(DownloadTest, TheCacheRecordNamesAnInstallerWithTheSameFileName) {
  serve();
  startReporter();
  // C:\旧版\zkinst_9.1.2.exe, written in the ANSI code page (GBK).
  const std::string record = "C:\\\xBE\xC9\xB0\xE6\\zkinst_9.1.2.exe";
  const std::wstring cached = L"C:\\\u65e7\u7248\\zkinst_9.1.2.exe";
  writeHostFile(sandbox_.appDataHost() + "/vuriviredori/cachepath.data", record);
  writeHostFile(sandbox_.driveRoot('C') + "/\xE6\x97\xA7\xE7\x89\x88/zkinst_9.1.2.exe",
                installerBytes());
  useServedInstaller();
  model().realDownloadPlayer();
  EXPECT_EQ(notified_.succeeded, 1);
  EXPECT_EQ(ConfigImp::getInstance()->packagePath, cached);
  EXPECT_TRUE(logged(kRealFunction, L"from cache path " + cached));
  EXPECT_TRUE(waitForReport("download_success"));
  EXPECT_TRUE(getRequests().empty());
}

TEST_F(DownloadTest, ACacheRecordOfAnotherVersionIsIgnored) {
  serve();
  serveInstaller();
  writeHostFile(sandbox_.appDataHost() + "/vuriviredori/cachepath.data",
                "C:\\old\\zkinst_9.1.1.exe");
  writeHostFile(sandbox_.driveRoot('C') + "/old/zkinst_9.1.1.exe", installerBytes());
  useServedInstaller();
  const auto start = Clock::now();
  model().realDownloadPlayer();
  EXPECT_EQ(notified_.outcomes(), 0);  // not at once: a download runs
  ASSERT_TRUE(waitForOutcome());
  const bool withinASecond = millisecondsSince(start) < 1000;
  EXPECT_EQ(notified_.succeeded, 1);
  EXPECT_TRUE(ConfigImp::getInstance()->packagePath.empty());
  EXPECT_EQ(readHostFile(hostTarget()), installerBytes());
  EXPECT_FALSE(hostFileExists(hostTarget() + ".tmp"));
  EXPECT_EQ(statuses(), std::vector<int>{200});
  EXPECT_TRUE(logged(kByUrlFunction, L"download file success file = " + targetPath()));
  // Under a second rounds to 0.
  if (withinASecond) {
    EXPECT_TRUE(logged(kDownloadFunction, L"ie download finished, success = 1, elapse = 0"));
  }
}

TEST_F(DownloadTest, TheSpareAddressServesWhenTheFirstAttemptFails) {
  serve();
  serveInstaller();
  const std::string missing = servedUrl("/missing/zkinst9.0.exe");
  setAddress(missing, servedUrl(kInstallerPath));
  model().realDownloadPlayer();
  ASSERT_TRUE(waitForOutcome());
  EXPECT_EQ(notified_.succeeded, 1);
  EXPECT_EQ(statuses(), (std::vector<int>{404, 200}));
  const auto byUrl = messages(kByUrlFunction);
  ASSERT_GE(byUrl.size(), 4u);
  EXPECT_EQ(byUrl[0],
            L"start download player playerurl is " + utility::ustring::utf8ToWide(missing));
  EXPECT_EQ(byUrl[1], L"download 1 error");
  EXPECT_EQ(byUrl[2], L"start download player 2 playerurl is " +
                          utility::ustring::utf8ToWide(servedUrl(kInstallerPath)));
  EXPECT_EQ(byUrl.back(), L"download file success file = " + targetPath());
  EXPECT_EQ(readHostFile(hostTarget()), installerBytes());
}

TEST_F(DownloadTest, AnInstallerThatCannotBePutInPlaceIsAFailedDownload) {
  serve();
  serveInstaller();
  // Something that is not a file holds the target's name.
  std::filesystem::create_directories(hostTarget() + "/in-the-way");
  useServedInstaller();
  model().realDownloadPlayer();
  ASSERT_TRUE(waitForOutcome());
  EXPECT_EQ(notified_.succeeded, 0);
  EXPECT_EQ(notified_.failed, 1);
  EXPECT_FALSE(logged(kByUrlFunction, L"download file success file = " + targetPath()));
  // The whole download stays beside it for a later attempt.
  EXPECT_EQ(readHostFile(hostTarget() + ".tmp"), installerBytes());
}

TEST_F(DownloadTest, LibcurlDownloadsWhenBothAttemptsFail) {
  BackendOptions options;
  options.faults = {std::string(kInstallerPath) + ":status=500,once",
                    std::string(kInstallerPath) + ":status=502,once"};
  serve(options);
  serveInstaller();
  useServedInstaller();
  model().realDownloadPlayer();
  ASSERT_TRUE(waitForOutcome());
  EXPECT_EQ(notified_.succeeded, 1);
  EXPECT_EQ(statuses(), (std::vector<int>{500, 502, 200}));
  EXPECT_TRUE(logged(kByUrlFunction, L"download 2 error"));
  EXPECT_TRUE(logged(kCurlFunction, L"download player by curl"));
  EXPECT_TRUE(logged(kCurlFunction, L"download player by curl end. ret :1"));
  EXPECT_EQ(readHostFile(hostTarget()), installerBytes());
}

TEST_F(DownloadTest, ALibcurlResultUnderOneMebibyteIsSetAsideAsFailed) {
  BackendOptions options;
  options.faults = {std::string(kInstallerPath) + ":status=500"};
  serve(options);
  serveInstaller();
  useServedInstaller();
  model().realDownloadPlayer();
  ASSERT_TRUE(waitForOutcome());
  EXPECT_EQ(notified_.failed, 1);
  EXPECT_EQ(notified_.succeeded, 0);
  EXPECT_EQ(statuses(), (std::vector<int>{500, 500, 500}));
  EXPECT_TRUE(logged(kCurlFunction, L"download player by curl end. ret :1"));
  EXPECT_TRUE(logged(kCurlFunction, L"package too small"));
  EXPECT_FALSE(hostFileExists(hostTarget()));
  EXPECT_TRUE(hostFileExists(hostTarget() + ".tmpcur"));
}

TEST_F(DownloadTest, ProgressReachesTheWindowAtMostOnceASecond) {
  const std::size_t size = installer().size();
  const struct {
    const char* name;
    std::vector<std::string> faults;
    const wchar_t* finished;  // the line's start; about three seconds are rounded up to 30
  } cases[] = {
      {"second stack",
       {std::string(kInstallerPath) + ":throttle=700000"},
       L"ie download finished, success = 1, elapse = 30"},
      {"libcurl",
       {std::string(kInstallerPath) + ":throttle=700000",
        std::string(kInstallerPath) + ":status=500,once",
        std::string(kInstallerPath) + ":status=500,once"},
       L"ie download finished, success = 0, elapse = "},
  };
  serve();
  serveInstaller();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dropModel();
    notified_ = {};
    log_.clear();
    std::filesystem::remove(hostTarget());
    ASSERT_TRUE(backend_->clearFaults());
    for (const auto& fault : c.faults) ASSERT_TRUE(backend_->addFault(fault));
    useServedInstaller();
    model().realDownloadPlayer();
    ASSERT_TRUE(waitForOutcome(30000));
    EXPECT_EQ(notified_.succeeded, 1);
    const auto& progress = notified_.progress;
    ASSERT_GE(progress.size(), 2u);
    for (std::size_t i = 0; i < progress.size(); ++i) {
      EXPECT_EQ(progress[i].total, static_cast<int>(size));
      EXPECT_EQ(progress[i].percent,
                static_cast<int>(static_cast<double>(progress[i].received) / size * 100.0));
      if (i == 0) continue;
      EXPECT_GE(progress[i].received, progress[i - 1].received);
      // Posted at least 1,000 ms apart; delivery on the loop may jitter a little.
      EXPECT_GE(progress[i].atMs - progress[i - 1].atMs, 900) << "notification " << i;
    }
    EXPECT_EQ(model().getDownloadPercent(), progress.back().percent);
    const auto finished = messages(kDownloadFunction);
    EXPECT_TRUE(std::any_of(finished.begin(), finished.end(),
                            [&](const std::wstring& m) { return m.rfind(c.finished, 0) == 0; }))
        << "no line starting with " << utility::ustring::wideToUtf8(c.finished);
  }
}

TEST_F(DownloadTest, ADownloadWithoutThePublishersSignatureNeverSucceeds) {
  BackendOptions options;
  serve(options);
  startReporter();
  const struct {
    const char* name;
    std::string bytes;
    bool byCurl;
  } cases[] = {
      {"tampered", tamperedInstaller(), false},
      {"unsigned", programBytes(1500000), false},
      {"another publisher", foreignSignedProgram(), false},
      {"tampered, by libcurl", tamperedInstaller(), true},
  };
  std::size_t expectedReports = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dropModel();
    notified_ = {};
    log_.clear();
    std::filesystem::remove(hostTarget() + ".unsigned");
    ASSERT_TRUE(backend_->clearFaults());
    if (c.byCurl) {
      ASSERT_TRUE(backend_->addFault(std::string(kInstallerPath) + ":status=500,once"));
      ASSERT_TRUE(backend_->addFault(std::string(kInstallerPath) + ":status=500,once"));
    }
    serveFile(kInstallerPath, c.bytes);
    useServedInstaller();
    model().realDownloadPlayer();
    ASSERT_TRUE(waitForOutcome());
    runLoopFor(100);
    EXPECT_EQ(notified_.succeeded, 0);
    EXPECT_EQ(notified_.failed, 1);
    EXPECT_EQ(logged(kCurlFunction, L"download player by curl end. ret :1"), c.byCurl);
    EXPECT_FALSE(hostFileExists(hostTarget()));
    EXPECT_EQ(readHostFile(hostTarget() + ".unsigned"), c.bytes);
    EXPECT_TRUE(logged(kFinishFunction,
                       L"downloaded installer failed the signature check, "
                       L"moved aside: " +
                           targetPath()));
    EXPECT_EQ(messages(kSignatureFunction).size(), 1u);
    ZKReporter::getInstance()->flush();
    ++expectedReports;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (countReports("download_fail", "signature_error") < expectedReports &&
           Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(countReports("download_fail", "signature_error"), expectedReports);
  }
}

TEST_F(DownloadTest, AnInstallerOnDiskThatFailsItsCheckIsDownloadedAgainFromThePartialFile) {
  serve();
  serveInstaller();
  const std::string installer = installerBytes();
  writeHostFile(hostTarget(), tamperedInstaller());
  writeHostFile(hostTarget() + ".tmp", installer.substr(0, 1000000));
  useServedInstaller();
  model().realDownloadPlayer();
  EXPECT_EQ(notified_.outcomes(), 0);
  EXPECT_EQ(messages(kRealFunction), std::vector<std::wstring>{L"installer has downloaded"});
  ASSERT_TRUE(waitForOutcome());
  EXPECT_EQ(notified_.succeeded, 1);
  EXPECT_EQ(readHostFile(hostTarget()), installer);
  const auto requests = getRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(std::string(requests[0]["range"].GetString()), "bytes=1000000-");
  EXPECT_EQ(requests[0]["status"].GetInt(), 206);
}

TEST_F(DownloadTest, WithoutAnAddressTheDefaultOneIsUsedAfterTwoTicks) {
  BackendOptions options;
  options.faults = {std::string(kInstallerPath) + ":status=500,once"};
  if (defaultAddressTimerUsed()) GTEST_SKIP() << "the process's tick counter was used already";
  defaultAddressTimerUsed() = true;
  serve(options, "\"timeouts\": {\"defaultUrlTick\": 700}");
  serveInstaller();
  // What a failed resolution leaves: no address, the tick count as version.
  model().applyPlayerUrlAnswer("<html>502</html>");
  const std::wstring version = model().getPlayerAddress().version;
  const std::uint32_t pendingBefore = ZKReporter::getInstance()->pendingCount();

  const auto start = Clock::now();
  model().startDownloadPlayerEx();
  EXPECT_EQ(model().getState(), kStateDownloading);
  EXPECT_TRUE(logged(kStartFunction, L"start downloader. bug getting player url"));
  EXPECT_EQ(ZKReporter::getInstance()->pendingCount(), pendingBefore);
  ASSERT_TRUE(waitForOutcome());
  EXPECT_EQ(notified_.succeeded, 1);
  EXPECT_GE(millisecondsSince(start), 1350);
  // Both attempts went to the edition's default address.
  const std::wstring expected = ConfigImp::getInstance()->getDefaultInstallerUrl();
  EXPECT_EQ(expected, utility::ustring::utf8ToWide(servedUrl(kInstallerPath)));
  EXPECT_EQ(model().getPlayerAddress().url, expected);
  EXPECT_EQ(model().getPlayerAddress().urlSpare, expected);
  const auto requests = getRequests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& request : requests) {
    EXPECT_EQ(std::string(request["path"].GetString()), kInstallerPath);
  }
  EXPECT_EQ(statuses(), (std::vector<int>{500, 200}));

  // The tick counter is never reset: a second wait proceeds at its first tick
  // (and finds the installer the first one downloaded).
  PlayerAddress none;
  none.version = version;
  model().setPlayerAddress(none);
  notified_ = {};
  const auto again = Clock::now();
  model().startDownloadPlayerEx();
  ASSERT_TRUE(waitForOutcome());
  EXPECT_EQ(notified_.succeeded, 1);
  EXPECT_GE(millisecondsSince(again), 650);
  EXPECT_LT(millisecondsSince(again), 1350);
  EXPECT_EQ(getRequests().size(), 2u);
}

TEST_F(DownloadTest, TeardownDuringATransferEndsInTimeAndDropsWhatTheDownloadPosted) {
  const struct {
    const char* name;
    std::vector<std::string> faults;
    bool keepsPartialFile;
  } cases[] = {
      {"second stack", {std::string(kInstallerPath) + ":throttle=60000"}, true},
      {"libcurl",
       {std::string(kInstallerPath) + ":throttle=60000",
        std::string(kInstallerPath) + ":status=500,once",
        std::string(kInstallerPath) + ":status=500,once"},
       false},
  };
  serve();
  serveInstaller();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dropModel();
    notified_ = {};
    log_.clear();
    std::filesystem::remove(hostTarget());
    std::filesystem::remove(hostTarget() + ".tmp");
    ASSERT_TRUE(backend_->clearFaults());
    for (const auto& fault : c.faults) ASSERT_TRUE(backend_->addFault(fault));
    useServedInstaller();
    model().realDownloadPlayer();
    ASSERT_TRUE(runLoopUntil([this] { return !notified_.progress.empty(); }, 15000));
    // Progress piles up while the loop does not run.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::size_t delivered = notified_.progress.size();

    const auto start = Clock::now();
    model().uninit();
    EXPECT_LT(millisecondsSince(start), 1500);
    EXPECT_TRUE(messages(kModelFunction).empty());  // no thread had to be let go
    runLoopFor(300);
    EXPECT_EQ(notified_.progress.size(), delivered);
    EXPECT_EQ(notified_.outcomes(), 0);
    EXPECT_FALSE(hostFileExists(hostTarget() + ".unsigned"));
    if (c.keepsPartialFile) {
      EXPECT_TRUE(hostFileExists(hostTarget() + ".tmp"));  // for a later resume
      EXPECT_FALSE(hostFileExists(hostTarget()));
    }
  }
}

}  // namespace
}  // namespace model_tests
