// ZKCurlDownloader against the stand-in back end: bodies, limits, progress,
// cancel and failures.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "net/zk_curl_downloader.h"
#include "net_fixture.h"
#include "platform/clock.h"
#include "utility/log_capture.h"

namespace net_tests {
namespace {

using utility_tests::LogCapture;
using vireo::testing::hostFileExists;
using vireo::testing::readHostFile;

struct CurlReport {
  int percent;
  double received, total;
  std::uint32_t tick;
};

class CurlTest : public NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    ZKCurlDownloader::globalInit();
  }

  ZKCurlDownloader::ProgressFunc recordInto(std::vector<CurlReport>& reports) {
    return [&reports](int percent, double received, double total) {
      reports.push_back({percent, received, total, platform::tickCount()});
    };
  }
};

TEST_F(CurlTest, MemoryGetReturnsTheBodyAndAnErrorPageAlike) {
  auto backend = startBackend();
  ZKCurlDownloader curl;
  std::string response = "old";
  ASSERT_TRUE(curl.downloadMemory(backend->baseUrl() + "/hello.json", response, {"X-Extra: 1"}));
  EXPECT_EQ(response, "{\"hello\":\"world\"}");

  // HTTP error statuses are not failures here: the error page is the answer.
  ASSERT_TRUE(curl.downloadMemory(backend->baseUrl() + "/missing.json", response, {}));
  EXPECT_NE(response.find("404"), std::string::npos);

  const auto requests = parsedRequests(*backend, 2);
  ASSERT_EQ(requests.size(), 2u);
  const rapidjson::Document* hello = requestWith(requests, "path", "/hello.json");
  ASSERT_NE(hello, nullptr);
  const auto& headers = (*hello)["headers"];
  EXPECT_STREQ(headers["content-type"].GetString(), "application/x-www-form-urlencoded");
  EXPECT_STREQ(headers["x-extra"].GetString(), "1");
  EXPECT_NE(std::string(headers["user-agent"].GetString()).find("Chrome/69.0.2228.0"),
            std::string::npos);
}

TEST_F(CurlTest, MemoryGetLongerThanItsLimitFailsWithTheTimeOut) {
  useProfile(R"("timeouts": {"curlMemory": 700})");
  BackendOptions options;
  options.faults = {"/hello.json:stall-before=5000"};
  auto backend = startBackend(options);
  LogCapture log;
  ZKCurlDownloader curl;
  std::string response = "untouched";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(curl.downloadMemory(backend->baseUrl() + "/hello.json", response, {}));
  EXPECT_LT(secondsSince(start), 4.0);
  EXPECT_EQ(response, "untouched");
  EXPECT_TRUE(log.has("ZKCurlDownloader::downloadMemory", L"curl download error Timeout was reached"));
}

TEST_F(CurlTest, PostSendsTheAnsiBodyAsUtf8) {
  auto backend = startBackend();
  ZKCurlDownloader curl;
  std::string response;
  // "中文" in the ANSI code page of this build (GBK).
  const std::string body = "[\"\xD6\xD0\xCE\xC4\"]";
  ASSERT_TRUE(curl.postRequest(body, response, backend->baseUrl() + "/collection/biz/upload",
                               {"timestamp: 1", "signature: x"}));
  const auto records = backend->waitForRecordLines(1);
  ASSERT_EQ(records.size(), 1u);
  rapidjson::Document record;
  record.Parse(records[0].c_str());
  ASSERT_TRUE(record["body"].IsArray());
  EXPECT_STREQ(record["body"][0].GetString(), "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_STREQ(record["headers"]["content-type"].GetString(), "application/json;charset=UTF-8");
}

TEST_F(CurlTest, DownloadWithoutLengthGivesNoProgress) {
  BackendOptions options;
  options.faults = {std::string(kFilePath) + ":chunked,throttle=400000"};
  auto backend = startBackend(options);
  ZKCurlDownloader curl;
  std::vector<CurlReport> reports;
  ASSERT_TRUE(curl.downloadFile(windowsFile("file.bin"), backend->baseUrl() + kFilePath,
                                recordInto(reports)));
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(readHostFile(hostFile("file.bin")), patternBytes(0, kFileSize));
}

TEST_F(CurlTest, BigDownloadReportsAboutOncePerSecondAndNeverHundred) {
  // 100 MB at the helper's own 20 MiB/s cap takes about five seconds.
  const std::uint64_t size = 100000000;
  std::filesystem::resize_file(root() + kFilePath, size);
  auto backend = startBackend();
  ZKCurlDownloader curl;
  std::vector<CurlReport> reports;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(curl.downloadFile(windowsFile("big.bin"), backend->baseUrl() + kFilePath,
                                recordInto(reports)));
  const double seconds = secondsSince(start);
  EXPECT_EQ(std::filesystem::file_size(hostFile("big.bin")), size);

  ASSERT_GE(reports.size(), 2u);
  EXPECT_LE(reports.size(), static_cast<std::size_t>(seconds) + 1);
  EXPECT_GE(reports.size() + 2, static_cast<std::size_t>(seconds));
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_LE(reports[i].percent, 99);
    EXPECT_DOUBLE_EQ(reports[i].total, static_cast<double>(size));
    EXPECT_EQ(reports[i].percent, std::min(99, static_cast<int>(reports[i].received / size * 100)));
    if (i > 0) {
      EXPECT_GT(reports[i].tick - reports[i - 1].tick, 1000u);
      EXPECT_GE(reports[i].percent, reports[i - 1].percent);
    }
  }
}

TEST_F(CurlTest, DownloadIntoAMissingFolderFailsAndLeavesNoFile) {
  auto backend = startBackend();
  LogCapture log;
  ZKCurlDownloader curl;
  const std::wstring path = L"C:\\no-such-folder\\file.bin";
  EXPECT_FALSE(curl.downloadFile(path, backend->baseUrl() + kFilePath, nullptr));
  const auto messages = log.messages("ZKCurlDownloader::downloadFile");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], L"ZKCurlDownloader::downloadfile start");
  EXPECT_EQ(messages[1].rfind(L"openfile error path : " + path + L". ", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(sandbox().driveRoot('C') + "/no-such-folder"));
}

TEST_F(CurlTest, CutConnectionFailsAndKeepsThePartialFile) {
  BackendOptions options;
  options.faults = {std::string(kFilePath) + ":cut=300000"};
  auto backend = startBackend(options);
  LogCapture log;
  ZKCurlDownloader curl;
  EXPECT_FALSE(curl.downloadFile(windowsFile("cut.bin"), backend->baseUrl() + kFilePath, nullptr));
  EXPECT_EQ(readHostFile(hostFile("cut.bin")), patternBytes(0, 300000));
  const auto messages = log.messages("ZKCurlDownloader::downloadFile");
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().rfind(L"curl download file error ", 0), 0u);
}

TEST_F(CurlTest, RedirectIsFollowed) {
  auto backend = startBackend();
  RedirectServer redirect(backend->baseUrl());
  ZKCurlDownloader curl;
  std::string response;
  ASSERT_TRUE(curl.downloadMemory(redirect.baseUrl() + "/hello.json", response, {}));
  EXPECT_EQ(response, "{\"hello\":\"world\"}");
  ASSERT_TRUE(curl.downloadFile(windowsFile("r.bin"), redirect.baseUrl() + kFilePath, nullptr));
  EXPECT_EQ(readHostFile(hostFile("r.bin")), patternBytes(0, kFileSize));
}

TEST_F(CurlTest, CancelStopsAStalledTransferPromptly) {
  BackendOptions options;
  options.faults = {std::string(kFilePath) + ":stall-at=100000:60000",
                    "/hello.json:stall-before=60000"};
  auto backend = startBackend(options);
  std::atomic<bool> cancel{false};
  ZKCurlDownloader curl(&cancel);

  for (bool toFile : {true, false}) {
    SCOPED_TRACE(toFile ? "file" : "memory");
    cancel = false;
    std::atomic<bool> result{true};
    std::atomic<bool> done{false};
    std::thread worker([&] {
      std::string response;
      result = toFile ? curl.downloadFile(windowsFile("stall.bin"),
                                          backend->baseUrl() + kFilePath, nullptr)
                      : curl.downloadMemory(backend->baseUrl() + "/hello.json", response, {});
      done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(done.load());
    const auto start = std::chrono::steady_clock::now();
    cancel = true;
    worker.join();
    EXPECT_LT(secondsSince(start), 2.5);
    EXPECT_FALSE(result.load());
  }
}

}  // namespace
}  // namespace net_tests
