// The second HTTP stack (utility::CHttpDownloader over libsoup) against the
// stand-in back end: memory and file downloads, resume, faults and cancel.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "net/http_download2file_sink.h"
#include "net/http_downloader.h"
#include "net_fixture.h"
#include "utility/log_capture.h"

namespace net_tests {
namespace {

using utility::CHttpDownloader;
using utility_tests::LogCapture;
using vireo::testing::readHostFile;
using vireo::testing::writeHostFile;

constexpr const char* kFileSink = "utility::CHttpDownload2FileSink::onHttpRecvHeader";

std::wstring wide(const std::string& s) { return utility::ustring::utf8ToWide(s); }

class HttpDownloaderTest : public NetTest {
 protected:
  std::wstring fileUrl(const BackendProcess& backend) const {
    return wide(backend.baseUrl() + kFilePath);
  }
};

TEST_F(HttpDownloaderTest, MemoryGetAppendsOnlyA2xxBody) {
  auto backend = startBackend();
  CHttpDownloader downloader;
  std::string out = "prefix:";
  ASSERT_TRUE(downloader.download2mem(out, wide(backend->baseUrl() + "/hello.json")));
  EXPECT_EQ(out, "prefix:{\"hello\":\"world\"}");

  EXPECT_FALSE(downloader.download2mem(out, wide(backend->baseUrl() + "/missing.json")));
  EXPECT_EQ(out, "prefix:{\"hello\":\"world\"}");
}

TEST_F(HttpDownloaderTest, MemoryGetCutShortLeavesTheStringUnchanged) {
  BackendOptions options;
  options.faults = {std::string(kFilePath) + ":cut=70000"};
  auto backend = startBackend(options);
  CHttpDownloader downloader;
  std::string out = "before";
  EXPECT_FALSE(downloader.download2mem(out, fileUrl(*backend)));
  EXPECT_EQ(out, "before");
}

TEST_F(HttpDownloaderTest, FileDownloadReportsChunksAndTheTotal) {
  auto backend = startBackend();
  LogCapture log;
  CHttpDownloader downloader;
  RecordingProgress progress;
  ASSERT_TRUE(downloader.download2file(fileUrl(*backend), windowsFile("f.bin"), &progress, false));
  EXPECT_EQ(readHostFile(hostFile("f.bin")), patternBytes(0, kFileSize));
  const auto calls = progress.calls();
  ASSERT_FALSE(calls.empty());
  std::int64_t sum = 0;
  for (const auto& call : calls) {
    EXPECT_LE(call.length, 32768u);
    sum += call.length;
    EXPECT_EQ(call.received, sum);
    EXPECT_EQ(call.total, static_cast<std::int64_t>(kFileSize));
  }
  EXPECT_EQ(sum, static_cast<std::int64_t>(kFileSize));
  EXPECT_TRUE(log.has("utility::CHttpClient::sendRequest", L"total 1000000"));
}

TEST_F(HttpDownloaderTest, DownloadWithoutLengthAssumesTenMebibytes) {
  BackendOptions options;
  options.faults = {std::string(kFilePath) + ":chunked"};
  auto backend = startBackend(options);
  LogCapture log;
  CHttpDownloader downloader;
  RecordingProgress progress;
  ASSERT_TRUE(downloader.download2file(fileUrl(*backend), windowsFile("c.bin"), &progress, false));
  EXPECT_EQ(readHostFile(hostFile("c.bin")), patternBytes(0, kFileSize));
  ASSERT_FALSE(progress.calls().empty());
  for (const auto& call : progress.calls()) EXPECT_EQ(call.total, 10485760);
  EXPECT_TRUE(log.has("utility::CHttpClient::sendRequest", L"total -1"));
}

TEST_F(HttpDownloaderTest, EmptyBodyWithLengthZeroIsNotMissingLength) {
  writeHostFile(root() + "/empty.bin", "");
  auto backend = startBackend();
  LogCapture log;
  CHttpDownloader downloader;
  ASSERT_TRUE(downloader.download2file(wide(backend->baseUrl() + "/empty.bin"),
                                       windowsFile("e.bin"), nullptr, false));
  EXPECT_TRUE(std::filesystem::exists(hostFile("e.bin")));
  EXPECT_TRUE(log.has("utility::CHttpClient::sendRequest", L"total 0"));
}

TEST_F(HttpDownloaderTest, ResumeSendsTheRangeAndReportsFromTheExistingSize) {
  const std::size_t have = 123457;
  writeHostFile(hostFile("r.bin"), patternBytes(0, have));
  auto backend = startBackend();
  LogCapture log;
  CHttpDownloader downloader;
  RecordingProgress progress;
  ASSERT_TRUE(downloader.download2file(fileUrl(*backend), windowsFile("r.bin"), &progress, true));
  EXPECT_EQ(readHostFile(hostFile("r.bin")), patternBytes(0, kFileSize));
  EXPECT_TRUE(log.has("utility::CHttpDownloader::download2file", L"start size 123457"));

  const auto requests = parsedRequests(*backend, 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_STREQ(requests[0]["range"].GetString(), "bytes=123457-");
  EXPECT_EQ(requests[0]["status"].GetInt(), 206);

  const auto calls = progress.calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front().received, static_cast<std::int64_t>(have + calls.front().length));
  EXPECT_EQ(calls.back().received, static_cast<std::int64_t>(kFileSize));
  for (const auto& call : calls) EXPECT_EQ(call.total, static_cast<std::int64_t>(kFileSize));
}

TEST_F(HttpDownloaderTest, RangeNotSatisfiableFailsAndLeavesThePartialFile) {
  const std::string partial = patternBytes(0, kFileSize + 10);
  writeHostFile(hostFile("full.bin"), partial);
  auto backend = startBackend();
  LogCapture log;
  CHttpDownloader downloader;
  EXPECT_FALSE(downloader.download2file(fileUrl(*backend), windowsFile("full.bin"), nullptr, true));
  EXPECT_TRUE(log.has(kFileSink, L"onHttpErro status = 416"));
  EXPECT_EQ(readHostFile(hostFile("full.bin")), partial);
}

TEST_F(HttpDownloaderTest, WholeAnswerToARangedRequestRestartsTheFile) {
  writeHostFile(hostFile("i.bin"), std::string(5000, 'x'));
  BackendOptions options;
  options.faults = {std::string(kFilePath) + ":ignore-range"};
  auto backend = startBackend(options);
  CHttpDownloader downloader;
  RecordingProgress progress;
  ASSERT_TRUE(downloader.download2file(fileUrl(*backend), windowsFile("i.bin"), &progress, true));
  EXPECT_EQ(readHostFile(hostFile("i.bin")), patternBytes(0, kFileSize));
  const auto calls = progress.calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front().received, static_cast<std::int64_t>(calls.front().length));
  EXPECT_EQ(calls.back().received, static_cast<std::int64_t>(kFileSize));
  EXPECT_EQ(calls.back().total, static_cast<std::int64_t>(kFileSize));
}

TEST_F(HttpDownloaderTest, CutConnectionFailsAndTheNextResumeCompletes) {
  BackendOptions options;
  options.faults = {std::string(kFilePath) + ":cut=300000,once"};
  auto backend = startBackend(options);
  CHttpDownloader downloader;
  EXPECT_FALSE(downloader.download2file(fileUrl(*backend), windowsFile("cut.bin"), nullptr, true));
  EXPECT_EQ(readHostFile(hostFile("cut.bin")), patternBytes(0, 300000));

  ASSERT_TRUE(downloader.download2file(fileUrl(*backend), windowsFile("cut.bin"), nullptr, true));
  EXPECT_EQ(readHostFile(hostFile("cut.bin")), patternBytes(0, kFileSize));
  const auto requests = parsedRequests(*backend, 2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requestWith(requests, "range", "bytes=300000-"), nullptr);
}

TEST_F(HttpDownloaderTest, ProgressSinkCanStopTheDownloadAtOnce) {
  // At this pace the rest of the body would take about ten seconds.
  BackendOptions options;
  options.faults = {std::string(kFilePath) + ":throttle=100000"};
  auto backend = startBackend(options);
  CHttpDownloader downloader;
  RecordingProgress progress;
  progress.stopWith(false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(downloader.download2file(fileUrl(*backend), windowsFile("s.bin"), &progress, false));
  EXPECT_LT(secondsSince(start), 2.0);  // the rest is dropped, not drained
  EXPECT_EQ(progress.calls().size(), 1u);
  // The refused chunk is not written.
  EXPECT_EQ(std::filesystem::file_size(hostFile("s.bin")), 0u);
}

TEST_F(HttpDownloaderTest, FailuresReachTheSinkWithWindowsCodes) {
  auto backend = startBackend();
  const int closedPort = backend->port();
  backend->stop();
  struct Case {
    std::string url;
    int stage;
    DWORD code;
  } cases[] = {
      {"http://127.0.0.1:" + std::to_string(closedPort) + "/x", 6, 12029},
      {"ftp://127.0.0.1/x", 1, 12006},
      {"not a url", 1, 12005},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    LogCapture log;
    CHttpDownloader downloader;
    EXPECT_FALSE(downloader.download2file(wide(c.url), windowsFile("x.bin"), nullptr, false));
    EXPECT_TRUE(log.has("utility::CHttpDownload2FileSink::onHttpError",
                        L"onHttpErro " + std::to_wstring(c.stage) + L", " + std::to_wstring(c.code)));
  }
}

TEST_F(HttpDownloaderTest, MissingFolderFailsWithTheCreateFileLine) {
  auto backend = startBackend();
  LogCapture log;
  CHttpDownloader downloader;
  EXPECT_FALSE(downloader.download2file(fileUrl(*backend), L"C:\\missing\\f.bin", nullptr, false));
  const auto messages = log.messages(kFileSink);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind(L"create file error; filename C:\\missing\\f.bin lasterror:", 0), 0u);
}

TEST_F(HttpDownloaderTest, StalledAnswerTimesOutWithTheReceiveTimeOut) {
  useProfile(R"("timeouts": {"httpReceive": 600})");
  BackendOptions options;
  options.faults = {"/hello.json:stall-before=20000",
                    std::string(kFilePath) + ":stall-at=100000:20000"};
  auto backend = startBackend(options);
  LogCapture log;
  CHttpDownloader downloader;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(downloader.download2file(wide(backend->baseUrl() + "/hello.json"),
                                        windowsFile("h.json"), nullptr, false));
  EXPECT_LT(secondsSince(start), 5.0);
  EXPECT_TRUE(log.has("utility::CHttpDownload2FileSink::onHttpError", L"onHttpErro 6, 12002"));

  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(downloader.download2file(fileUrl(*backend), windowsFile("t.bin"), nullptr, false));
  EXPECT_LT(secondsSince(start), 5.0);
  EXPECT_EQ(readHostFile(hostFile("t.bin")), patternBytes(0, 100000));
}

TEST_F(HttpDownloaderTest, CancelFromAnotherThreadReturnsPromptly) {
  BackendOptions options;
  options.faults = {std::string(kFilePath) + ":stall-at=100000:60000",
                    "/hello.json:stall-before=60000"};
  auto backend = startBackend(options);
  for (bool toFile : {true, false}) {
    SCOPED_TRACE(toFile ? "file" : "memory");
    CHttpDownloader downloader;
    RecordingProgress progress;
    std::atomic<bool> result{true};
    std::thread worker([&] {
      std::string out;
      result = toFile ? downloader.download2file(fileUrl(*backend), windowsFile("c.bin"),
                                                 &progress, false)
                      : downloader.download2mem(out, wide(backend->baseUrl() + "/hello.json"));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto start = std::chrono::steady_clock::now();
    downloader.cancel();  // waits for the call to return
    EXPECT_LT(secondsSince(start), 1.0);
    worker.join();
    EXPECT_FALSE(result.load());
    if (toFile) {
      EXPECT_EQ(readHostFile(hostFile("c.bin")), patternBytes(0, 100000));
    }

    // The token stays set for memory downloads until the next file download.
    std::string out;
    EXPECT_FALSE(downloader.download2mem(out, wide(backend->baseUrl() + "/missing")));
  }
}

TEST_F(HttpDownloaderTest, CancelBeforeADownloadIsClearedByTheNextFileDownload) {
  auto backend = startBackend();
  CHttpDownloader downloader;
  downloader.cancel();
  std::string out;
  EXPECT_FALSE(downloader.download2mem(out, wide(backend->baseUrl() + "/hello.json")));
  EXPECT_TRUE(downloader.download2file(fileUrl(*backend), windowsFile("a.bin"), nullptr, false));
  EXPECT_TRUE(downloader.download2mem(out, wide(backend->baseUrl() + "/hello.json")));
}

TEST_F(HttpDownloaderTest, RedirectIsFollowedWithTheRangeKept) {
  writeHostFile(hostFile("red.bin"), patternBytes(0, 1000));
  auto backend = startBackend();
  RedirectServer redirect(backend->baseUrl());
  CHttpDownloader downloader;
  ASSERT_TRUE(downloader.download2file(wide(redirect.baseUrl() + kFilePath),
                                       windowsFile("red.bin"), nullptr, true));
  EXPECT_EQ(readHostFile(hostFile("red.bin")), patternBytes(0, kFileSize));
  const auto requests = parsedRequests(*backend, 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_STREQ(requests[0]["range"].GetString(), "bytes=1000-");
}

TEST_F(HttpDownloaderTest, HeadersGoInMapOrderWithTheDefaults) {
  auto backend = startBackend();
  CHttpDownloader downloader;
  downloader.setHeader(L"Range", L"bytes=5-");
  downloader.setHeader(L"Accept-Language", L"zh-CN");
  EXPECT_EQ(downloader.buildHeaderText(),
            L"Accept-Language: zh-CN\r\n"
            L"Content-Type: application/x-www-form-urlencoded\r\n"
            L"Range: bytes=5-\r\n"
            L"User-Agent: Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
            L"Chrome/69.0.2228.0 Safari/537.36\r\n");

  // A memory download keeps the map as it is, Range included.
  std::string out;
  ASSERT_TRUE(downloader.download2mem(out, fileUrl(*backend)));
  EXPECT_EQ(out, patternBytes(5, kFileSize - 5));
  const auto requests = parsedRequests(*backend, 1);
  ASSERT_EQ(requests.size(), 1u);
  const auto& headers = requests[0]["headers"];
  EXPECT_STREQ(headers["range"].GetString(), "bytes=5-");
  EXPECT_STREQ(headers["accept-language"].GetString(), "zh-CN");
  EXPECT_STREQ(headers["accept"].GetString(), "*/*");
  EXPECT_STREQ(headers["content-type"].GetString(), "application/x-www-form-urlencoded");
  EXPECT_NE(std::string(headers["user-agent"].GetString()).find("Chrome/69.0.2228.0"),
            std::string::npos);
  EXPECT_FALSE(headers.HasMember("accept-encoding"));
}

TEST_F(HttpDownloaderTest, AddressesAreSplitIntoHostPortAndObject) {
  struct Case {
    const wchar_t* url;
    const wchar_t* host;
    std::uint16_t port;
    const wchar_t* object;
    bool secure;
  } cases[] = {
      {L"https://cdn.example.com/zk/tallisex?a=1#top", L"cdn.example.com", 443,
       L"/zk/tallisex?a=1#top", true},
      {L"HTTPS://cdn.example.com:8443/x", L"cdn.example.com", 8443, L"/x", true},
      {L"http://127.0.0.1:8080/download/a b.exe", L"127.0.0.1", 8080, L"/download/a%20b.exe",
       false},
      {L"http://example.com", L"example.com", 80, L"/", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    struct NullSink : utility::IHttpClientSink {
      void onHttpError(int, DWORD) override { failed = true; }
      bool onHttpRecvHeader(std::int64_t, DWORD) override { return false; }
      bool onHttpData(const char*, std::uint32_t) override { return false; }
      void onHttpComplete() override {}
      bool failed = false;
    } sink;
    utility::CHttpClient client;
    ASSERT_TRUE(client.open(c.url, &sink));
    EXPECT_FALSE(sink.failed);
    EXPECT_EQ(client.hostName(), c.host);
    EXPECT_EQ(client.port(), c.port);
    EXPECT_EQ(client.objectPath(), c.object);
    EXPECT_EQ(client.isSecure(), c.secure);
    client.close();
  }
}

}  // namespace
}  // namespace net_tests
