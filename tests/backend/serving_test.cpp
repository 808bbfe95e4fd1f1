// Files, ranges, the game configuration, path escapes and the requests file.
#include <fstream>
#include <sstream>

#include "backend_fixture.h"

namespace vireo::testing {
namespace {

class ServingTest : public ::testing::Test {
 protected:
  ServedTree tree_;
  BackendProcess backend_{tree_.root()};

  std::string url(const std::string& path) const { return backend_.baseUrl() + path; }
};

TEST_F(ServingTest, ServesFilesWithLengthAndTypeAndAnswers404ForMissingOnes) {
  ASSERT_TRUE(backend_.running());

  const auto tallisex = fetch(url("/zk/tallisex"));
  EXPECT_EQ(tallisex.code, CURLE_OK);
  EXPECT_EQ(tallisex.status, 200);
  EXPECT_EQ(tallisex.body, ServedTree::kTallisex);
  EXPECT_EQ(tallisex.header("content-length"), std::to_string(tallisex.body.size()));
  EXPECT_EQ(tallisex.header("content-type"), "application/json");
  EXPECT_EQ(tallisex.header("accept-ranges"), "bytes");

  const auto installer = fetch(url(ServedTree::kInstallerPath));
  EXPECT_EQ(installer.status, 200);
  EXPECT_EQ(installer.body, patternBytes(0, ServedTree::kInstallerSize));

  const auto page = fetch(url("/zky/xukeXieyi.html"));
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.header("content-type"), "text/html; charset=utf-8");

  const auto empty = fetch(url("/empty.bin"));
  EXPECT_EQ(empty.code, CURLE_OK);
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(empty.header("content-length"), "0");

  EXPECT_EQ(fetch(url("/download/release/missing.exe")).status, 404);
  EXPECT_EQ(fetch(url("/zk")).status, 404);  // a folder without index.html
  EXPECT_EQ(fetch(url("/inside-link")).body, ServedTree::kTallisex);  // a link within the root
}

TEST_F(ServingTest, AnswersRangesWith206ClampsThemAndRefusesOnesPastTheEnd) {
  ASSERT_TRUE(backend_.running());
  constexpr std::size_t size = ServedTree::kInstallerSize;
  struct Case {
    std::string range;
    long status;
    std::size_t start;
    std::size_t length;
  };
  const std::vector<Case> cases = {
      {"bytes=0-", 206, 0, size},
      {"bytes=1000-1999", 206, 1000, 1000},
      {"bytes=299990-", 206, 299990, 10},
      {"bytes=299990-5000000", 206, 299990, 10},  // end clamped
      {"bytes=-100", 206, size - 100, 100},       // suffix
      {"bytes=-5000000", 206, 0, size},
      {"bytes=300000-", 416, 0, 0},  // starts at the end
      {"bytes=9000000-", 416, 0, 0},
      {"bytes=0-9,20-29", 200, 0, size},  // several ranges: the whole body
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range);
    FetchOptions options;
    options.range = c.range;
    const auto result = fetch(url(ServedTree::kInstallerPath), options);
    EXPECT_EQ(result.code, CURLE_OK);
    ASSERT_EQ(result.status, c.status);
    if (c.status == 416) {
      EXPECT_EQ(result.header("content-range"), "bytes */" + std::to_string(size));
      continue;
    }
    EXPECT_EQ(result.body.size(), c.length);
    EXPECT_TRUE(result.body == patternBytes(c.start, c.length));
    EXPECT_EQ(result.header("content-length"), std::to_string(c.length));
    if (c.status == 206) {
      EXPECT_EQ(result.header("content-range"),
                "bytes " + std::to_string(c.start) + "-" +
                    std::to_string(c.start + c.length - 1) + "/" + std::to_string(size));
    } else {
      EXPECT_FALSE(result.hasHeader("content-range"));
    }
  }
}

TEST_F(ServingTest, AnswersTheGameConfigurationByNumericOpenid) {
  ASSERT_TRUE(backend_.running());
  const auto found = fetch(url("/zud/properties?openid=12345&packageName=com.game"));
  EXPECT_EQ(found.status, 200);
  EXPECT_EQ(found.body, ServedTree::kProperties);
  EXPECT_EQ(found.header("content-type"), "application/json");
  EXPECT_EQ(fetch(url("/zud/properties?openid=12345")).body, ServedTree::kProperties);

  for (const char* query : {"openid=99999", "openid=", "openid=12a45", "openid=..%2F..%2Fleak",
                            "packageName=com.game"}) {
    SCOPED_TRACE(query);
    EXPECT_EQ(fetch(url(std::string("/zud/properties?") + query)).status, 404);
  }
}

TEST_F(ServingTest, RefusesPathsThatLeaveTheRoot) {
  ASSERT_TRUE(backend_.running());
  FetchOptions asIs;
  asIs.pathAsIs = true;
  const std::string outsideName = "/../secret.txt";
  for (const std::string path :
       {outsideName, std::string("/zk/../../secret.txt"), std::string("/%2e%2e/secret.txt"),
        std::string("/%2E%2E%2Fsecret.txt"), std::string("/zk/%2e%2e/%2e%2e/secret.txt"),
        std::string("/leak"), std::string("/zk%5c..%5c..%5csecret.txt")}) {
    SCOPED_TRACE(path);
    const auto result = fetch(url(path), asIs);
    EXPECT_EQ(result.code, CURLE_OK);
    EXPECT_EQ(result.status, 403);
    EXPECT_EQ(result.body.find("secret"), std::string::npos);
  }
}

TEST_F(ServingTest, WritesOneRequestLinePerRequestWithWhatWasSent) {
  ASSERT_TRUE(backend_.running());
  FetchOptions ranged;
  ranged.range = "bytes=1000-";
  FetchOptions agent;
  agent.headers = {"User-Agent: vireo-test/1"};
  fetch(url("/zk/tallisex?x=1"), agent);
  fetch(url(ServedTree::kInstallerPath), ranged);
  fetch(url("/nothing"));

  // Each answer is logged by the worker that sent it, so lines of requests
  // on different connections may come in either order.
  const auto lines = backend_.waitForRequestLines(3);
  ASSERT_EQ(lines.size(), 3u);
  std::map<std::string, rapidjson::Document> byPath;
  for (const auto& line : lines) {
    auto document = parseJson(line);
    ASSERT_TRUE(document.IsObject()) << line;
    byPath[document["path"].GetString()] = std::move(document);
  }
  ASSERT_EQ(byPath.count("/zk/tallisex?x=1"), 1u);
  const auto& first = byPath["/zk/tallisex?x=1"];
  EXPECT_STREQ(first["method"].GetString(), "GET");
  EXPECT_TRUE(first["range"].IsNull());
  EXPECT_EQ(first["status"].GetInt(), 200);
  EXPECT_EQ(first["bytes"].GetUint64(), std::string(ServedTree::kTallisex).size());
  EXPECT_TRUE(first["complete"].GetBool());
  EXPECT_STREQ(first["headers"]["user-agent"].GetString(), "vireo-test/1");

  ASSERT_EQ(byPath.count(ServedTree::kInstallerPath), 1u);
  const auto& second = byPath[ServedTree::kInstallerPath];
  EXPECT_STREQ(second["range"].GetString(), "bytes=1000-");
  EXPECT_EQ(second["status"].GetInt(), 206);
  EXPECT_EQ(second["bytes"].GetUint64(), ServedTree::kInstallerSize - 1000);

  ASSERT_EQ(byPath.count("/nothing"), 1u);
  EXPECT_EQ(byPath["/nothing"]["status"].GetInt(), 404);
}

TEST_F(ServingTest, ListensOnTheLoopbackAddressOnly) {
  ASSERT_TRUE(backend_.running());
  // A listening socket in /proc/net/tcp: "local_address" 0100007F:PORT, state 0A.
  char portHex[8];
  std::snprintf(portHex, sizeof portHex, "%04X", backend_.port());
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::vector<std::string> listening;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (state == "0A" && local.size() > 9 && local.substr(9) == portHex) listening.push_back(local);
  }
  ASSERT_EQ(listening.size(), 1u);
  EXPECT_EQ(listening[0].substr(0, 8), "0100007F");
}

}  // namespace
}  // namespace vireo::testing
