// Under a machine profile neither stack uses a proxy: a sandbox never leaves
// the machine, whatever proxy the environment names.
#include <cstdlib>

#include "net/http_downloader.h"
#include "net/zk_curl_downloader.h"
#include "net_fixture.h"

namespace net_tests {
namespace {

class SandboxProxyTest : public NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    // A proxy nothing listens on, and no exception for loopback.
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy"}) {
      setenv(name, "http://127.0.0.1:9", 1);
    }
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
  }
};

TEST_F(SandboxProxyTest, BothStacksGoStraightToTheService) {
  auto backend = startBackend();
  std::string curlAnswer;
  ASSERT_TRUE(ZKCurlDownloader().downloadMemory(backend->baseUrl() + "/hello.json", curlAnswer, {}));
  EXPECT_EQ(curlAnswer, "{\"hello\":\"world\"}");

  utility::CHttpDownloader downloader;
  std::string soupAnswer;
  ASSERT_TRUE(downloader.download2mem(
      soupAnswer, utility::ustring::utf8ToWide(backend->baseUrl() + "/hello.json")));
  EXPECT_EQ(soupAnswer, "{\"hello\":\"world\"}");
}

}  // namespace
}  // namespace net_tests
