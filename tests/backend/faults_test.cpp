// Fault injection: each kind, "once" sequences, prefixes and combinations.
#include "backend_fixture.h"

namespace vireo::testing {
namespace {

constexpr std::size_t kSize = ServedTree::kInstallerSize;

class FaultsTest : public ::testing::Test {
 protected:
  FetchResult get(const std::string& path, const std::string& range = "") {
    FetchOptions options;
    options.range = range;
    return fetch(backend_.baseUrl() + path, options);
  }
  FetchResult getInstaller(const std::string& range = "") {
    return get(ServedTree::kInstallerPath, range);
  }

  ServedTree tree_;
  BackendProcess backend_{tree_.root()};
};

TEST_F(FaultsTest, CutClosesTheConnectionAfterTheGivenBodyBytes) {
  ASSERT_TRUE(backend_.running());
  ASSERT_TRUE(backend_.addFault("/download/release/*:cut=5000"));

  const auto whole = getInstaller();
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.code, CURLE_PARTIAL_FILE);
  EXPECT_EQ(whole.header("content-length"), std::to_string(kSize));  // the promise is kept
  EXPECT_TRUE(whole.body == patternBytes(0, 5000));

  const auto ranged = getInstaller("bytes=100000-");  // N counts bytes of this body
  EXPECT_EQ(ranged.status, 206);
  EXPECT_EQ(ranged.code, CURLE_PARTIAL_FILE);
  EXPECT_TRUE(ranged.body == patternBytes(100000, 5000));

  const auto lines = backend_.waitForRequestLines(2);
  ASSERT_EQ(lines.size(), 2u);
  const auto line = parseJson(lines[0]);
  EXPECT_EQ(line["bytes"].GetUint64(), 5000u);
  EXPECT_FALSE(line["complete"].GetBool());

  EXPECT_EQ(get("/zk/tallisex").code, CURLE_OK);  // other paths are untouched
}

TEST_F(FaultsTest, IgnoreRangeAnswers200WithTheWholeBody) {
  ASSERT_TRUE(backend_.running());
  ASSERT_TRUE(backend_.addFault(std::string(ServedTree::kInstallerPath) + ":ignore-range"));
  const auto result = getInstaller("bytes=1000-");
  EXPECT_EQ(result.code, CURLE_OK);
  EXPECT_EQ(result.status, 200);
  EXPECT_FALSE(result.hasHeader("content-range"));
  EXPECT_TRUE(result.body == patternBytes(0, kSize));
}

TEST_F(FaultsTest, StatusAnswersThatStatusWithAnHtmlPage) {
  ASSERT_TRUE(backend_.running());
  for (int status : {404, 416, 500}) {
    SCOPED_TRACE(status);
    ASSERT_TRUE(backend_.clearFaults());
    ASSERT_TRUE(backend_.addFault("/zk/tallisex:status=" + std::to_string(status)));
    const auto result = get("/zk/tallisex", "bytes=0-");
    EXPECT_EQ(result.code, CURLE_OK);
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.header("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(result.body.find("<html>"), std::string::npos);
    EXPECT_NE(result.body.find(std::to_string(status)), std::string::npos);
  }
}

TEST_F(FaultsTest, StallsWaitBeforeTheAnswerOrInsideTheBody) {
  ASSERT_TRUE(backend_.running());
  ASSERT_TRUE(backend_.addFault("/zk/tallisex:stall-before=400"));
  const auto before = get("/zk/tallisex");
  EXPECT_EQ(before.body, ServedTree::kTallisex);
  EXPECT_GE(before.headersSeconds, 0.38);

  ASSERT_TRUE(backend_.addFault(std::string(ServedTree::kInstallerPath) + ":stall-at=1000:800"));
  const auto inside = getInstaller();
  EXPECT_EQ(inside.code, CURLE_OK);
  EXPECT_TRUE(inside.body == patternBytes(0, kSize));
  EXPECT_LT(inside.headersSeconds, 0.6);  // the headers came before the stall
  EXPECT_GE(inside.seconds, 0.78);
}

TEST_F(FaultsTest, ChunkedSendsNoContentLength) {
  ASSERT_TRUE(backend_.running());
  ASSERT_TRUE(backend_.addFault("/download/*:chunked"));
  const auto whole = getInstaller();
  EXPECT_EQ(whole.code, CURLE_OK);
  EXPECT_EQ(whole.status, 200);
  EXPECT_FALSE(whole.hasHeader("content-length"));
  EXPECT_EQ(whole.header("transfer-encoding"), "chunked");
  EXPECT_TRUE(whole.body == patternBytes(0, kSize));

  const auto ranged = getInstaller("bytes=299000-");
  EXPECT_EQ(ranged.status, 206);
  EXPECT_FALSE(ranged.hasHeader("content-length"));
  EXPECT_TRUE(ranged.body == patternBytes(299000, 1000));
}

TEST_F(FaultsTest, ThrottleHoldsTheRateRoughly) {
  ASSERT_TRUE(backend_.running());
  ASSERT_TRUE(backend_.addFault("/download/*:throttle=600000"));  // 300 kB at 600 kB/s
  const auto result = getInstaller();
  EXPECT_EQ(result.code, CURLE_OK);
  EXPECT_TRUE(result.body == patternBytes(0, kSize));
  EXPECT_GE(result.seconds, 0.4);
  EXPECT_LT(result.seconds, 5.0);
}

TEST_F(FaultsTest, OnceRulesServeConsecutiveRequestsInTheirOrder) {
  ASSERT_TRUE(backend_.running());
  ASSERT_TRUE(backend_.addFault("/zk/tallisex:status=500,once"));
  ASSERT_TRUE(backend_.addFault("/zk/tallisex:cut=5:once"));
  EXPECT_EQ(get("/zk/tallisex").status, 500);
  const auto cut = get("/zk/tallisex");
  EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE);
  EXPECT_EQ(cut.body.size(), 5u);
  const auto clean = get("/zk/tallisex");
  EXPECT_EQ(clean.code, CURLE_OK);
  EXPECT_EQ(clean.body, ServedTree::kTallisex);
}

TEST_F(FaultsTest, LastingRulesCombineAndClearRemovesThem) {
  ASSERT_TRUE(backend_.running());
  ASSERT_TRUE(backend_.addFault("/download/*:throttle=200000"));
  ASSERT_TRUE(backend_.addFault(std::string(ServedTree::kInstallerPath) + ":cut=100000"));
  const auto both = getInstaller();
  EXPECT_EQ(both.code, CURLE_PARTIAL_FILE);
  EXPECT_EQ(both.body.size(), 100000u);
  EXPECT_GE(both.seconds, 0.4);  // 100 kB at 200 kB/s

  ASSERT_TRUE(backend_.clearFaults());
  EXPECT_EQ(getInstaller().code, CURLE_OK);
}

TEST_F(FaultsTest, MalformedRulesAreRefused) {
  ASSERT_TRUE(backend_.running());
  for (const char* spec : {"/zk/tallisex", "/zk/tallisex:", "zk:cut=1", "/x:cut=abc", "/x:status=200",
                           "/x:stall-at=5", "/x:throttle=0", "/x:once", "/x:explode"}) {
    SCOPED_TRACE(spec);
    EXPECT_FALSE(backend_.addFault(spec));
  }
  EXPECT_EQ(get("/zk/tallisex").code, CURLE_OK);
}

TEST(FaultsFromTheCommandLineTest, ApplyFromTheStartIncludingUploads) {
  ServedTree tree;
  BackendOptions options;
  options.control = false;
  options.faults = {"/collection/biz/upload:status=500", "/zk/*:status=404"};
  BackendProcess backend(tree.root(), options);
  ASSERT_TRUE(backend.running());

  EXPECT_EQ(fetch(backend.baseUrl() + "/zk/tallisex").status, 404);
  FetchOptions post;
  post.post = true;
  post.body = "[]";
  EXPECT_EQ(fetch(backend.baseUrl() + "/collection/biz/upload", post).status, 500);
  EXPECT_EQ(backend.waitForRecordLines(1).size(), 1u);  // still recorded
  EXPECT_FALSE(backend.addFault("/x:cut=1"));           // no control without --control
}

}  // namespace
}  // namespace vireo::testing
