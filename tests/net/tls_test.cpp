// TLS on both stacks: the system store plus the profile's trusted CA, host
// names verified, only certificate date errors forgiven; https on a port of
// its own.
#include <gtest/gtest.h>

#include "net/http_downloader.h"
#include "net/zk_curl_downloader.h"
#include "net_fixture.h"
#include "utility/log_capture.h"

namespace net_tests {
namespace {

using vireo::testing::TestCertificates;

class TlsTest : public NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    certs_ = vireo::testing::makeTestCertificates(sandbox().folder() + "/certs");
    ASSERT_TRUE(certs_.ok);
    useProfile("\"trustedCA\": \"" + certs_.caCertificate + "\"");
    ZKCurlDownloader::globalInit();
  }

  std::unique_ptr<BackendProcess> serveWith(const std::string& certificate,
                                            const std::string& key) {
    BackendOptions options;
    options.tlsCertificate = certificate;
    options.tlsKey = key;
    return startBackend(options);
  }

  TestCertificates certs_;
};

TEST_F(TlsTest, CertificatesAreJudgedAlikeOnBothStacks) {
  struct Case {
    const char* name;
    std::string certificate, key;
    bool accepted;
  } cases[] = {
      {"trusted CA", certs_.serverCertificate, certs_.serverKey, true},
      {"expired", certs_.expiredCertificate, certs_.expiredKey, true},
      {"not yet valid", certs_.notYetValidCertificate, certs_.notYetValidKey, true},
      {"another host name", certs_.wrongHostCertificate, certs_.wrongHostKey, false},
      {"unknown CA", certs_.unknownCertificate, certs_.unknownKey, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto backend = serveWith(c.certificate, c.key);
    const std::string url = backend->baseUrl() + "/hello.json";
    ASSERT_EQ(url.rfind("https://127.0.0.1:", 0), 0u);

    std::string viaCurl;
    EXPECT_EQ(ZKCurlDownloader().downloadMemory(url, viaCurl, {}), c.accepted);
    utility::CHttpDownloader downloader;
    std::string viaSoup;
    EXPECT_EQ(downloader.download2mem(viaSoup, utility::ustring::utf8ToWide(url)), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(viaCurl, "{\"hello\":\"world\"}");
      EXPECT_EQ(viaSoup, "{\"hello\":\"world\"}");
    }
  }
}

TEST_F(TlsTest, RefusedCertificatesGiveTheirWindowsCodes) {
  struct Case {
    const char* name;
    std::string certificate, key;
    const wchar_t* line;
  } cases[] = {
      {"unknown CA", certs_.unknownCertificate, certs_.unknownKey, L"onHttpErro 6, 12045"},
      {"another host name", certs_.wrongHostCertificate, certs_.wrongHostKey,
       L"onHttpErro 6, 12038"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto backend = serveWith(c.certificate, c.key);
    utility_tests::LogCapture log;
    utility::CHttpDownloader downloader;
    EXPECT_FALSE(downloader.download2file(
        utility::ustring::utf8ToWide(backend->baseUrl() + kFilePath), windowsFile("t.bin"),
        nullptr, false));
    EXPECT_TRUE(log.has("utility::CHttpDownload2FileSink::onHttpError", c.line));
  }
}

TEST_F(TlsTest, WithoutTheTrustedCAOurOwnServerIsRefused) {
  useProfile("");
  auto backend = serveWith(certs_.serverCertificate, certs_.serverKey);
  const std::string url = backend->baseUrl() + "/hello.json";
  std::string out;
  EXPECT_FALSE(ZKCurlDownloader().downloadMemory(url, out, {}));
  utility::CHttpDownloader downloader;
  EXPECT_FALSE(downloader.download2mem(out, utility::ustring::utf8ToWide(url)));
}

TEST_F(TlsTest, FileDownloadsOverHttpsOnBothStacks) {
  auto backend = serveWith(certs_.serverCertificate, certs_.serverKey);
  const std::string url = backend->baseUrl() + kFilePath;
  ASSERT_TRUE(ZKCurlDownloader().downloadFile(windowsFile("curl.bin"), url, nullptr));
  EXPECT_EQ(vireo::testing::readHostFile(hostFile("curl.bin")), patternBytes(0, kFileSize));
  utility::CHttpDownloader downloader;
  ASSERT_TRUE(downloader.download2file(utility::ustring::utf8ToWide(url), windowsFile("soup.bin"),
                                       nullptr, false));
  EXPECT_EQ(vireo::testing::readHostFile(hostFile("soup.bin")), patternBytes(0, kFileSize));
}

}  // namespace
}  // namespace net_tests
