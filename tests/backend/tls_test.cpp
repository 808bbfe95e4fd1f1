// HTTPS with the generated certificates: the test CA is trusted, every
// other certificate fails a verifying client.
#include "backend_fixture.h"

namespace vireo::testing {
namespace {

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    certs_ = makeTestCertificates(tree_.folder() + "/certs");
    ASSERT_TRUE(certs_.ok);
  }

  std::unique_ptr<BackendProcess> serveWith(const std::string& certificate,
                                            const std::string& key) {
    BackendOptions options;
    options.tlsCertificate = certificate;
    options.tlsKey = key;
    return std::make_unique<BackendProcess>(tree_.root(), options);
  }

  FetchResult verifiedGet(const std::string& url, const std::string& range = "") {
    FetchOptions options;
    options.verify = true;
    options.caFile = certs_.caCertificate;
    options.range = range;
    return fetch(url, options);
  }

  ServedTree tree_;
  TestCertificates certs_;
};

TEST_F(TlsTest, ServesHttpsThatVerifiesAgainstTheTestCa) {
  auto backend = serveWith(certs_.serverCertificate, certs_.serverKey);
  ASSERT_TRUE(backend->running());
  EXPECT_EQ(backend->baseUrl().substr(0, 8), "https://");

  const auto document = verifiedGet(backend->baseUrl() + "/zk/tallisex");
  EXPECT_EQ(document.code, CURLE_OK) << curl_easy_strerror(document.code);
  EXPECT_EQ(document.body, ServedTree::kTallisex);

  const auto ranged = verifiedGet(backend->baseUrl() + ServedTree::kInstallerPath, "bytes=1000-");
  EXPECT_EQ(ranged.status, 206);
  EXPECT_TRUE(ranged.body == patternBytes(1000, ServedTree::kInstallerSize - 1000));

  ASSERT_TRUE(backend->addFault("/zk/tallisex:cut=3"));  // control works over HTTPS too
  EXPECT_EQ(verifiedGet(backend->baseUrl() + "/zk/tallisex").body.size(), 3u);
}

TEST_F(TlsTest, AVerifyingClientRefusesEveryOtherCertificate) {
  struct Case {
    const char* name;
    std::string certificate;
    std::string key;
  };
  const std::vector<Case> cases = {
      {"unknown CA", certs_.unknownCertificate, certs_.unknownKey},
      {"wrong host", certs_.wrongHostCertificate, certs_.wrongHostKey},
      {"expired", certs_.expiredCertificate, certs_.expiredKey},
      {"not yet valid", certs_.notYetValidCertificate, certs_.notYetValidKey},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto backend = serveWith(c.certificate, c.key);
    ASSERT_TRUE(backend->running());
    EXPECT_EQ(verifiedGet(backend->baseUrl() + "/zk/tallisex").code,
              CURLE_PEER_FAILED_VERIFICATION);
    // The same server answers a client that does not verify.
    EXPECT_EQ(fetch(backend->baseUrl() + "/zk/tallisex").body, ServedTree::kTallisex);
  }
}

TEST_F(TlsTest, RefusesToStartWithAMissingCertificate) {
  auto backend = serveWith(tree_.folder() + "/none.crt", certs_.serverKey);
  EXPECT_FALSE(backend->running());
  EXPECT_EQ(backend->stop(), 1);
}

}  // namespace
}  // namespace vireo::testing
