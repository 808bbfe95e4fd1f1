// Telemetry uploads: the signature verdict and the record lines.
#include "backend_fixture.h"

namespace vireo::testing {
namespace {

// Signatures computed independently (md5sum of the signing text):
//   "xrxnjccg*gdovrfekb=" "1700000000123" "1024" -> ...aa190d79
//   "xrxnjccg*gdovrfekb=" "1700000000123" "2048" -> ...504750c1
constexpr const char* kTimestamp = "1700000000123";
constexpr const char* kOneEventSignature = "aa190d79";
constexpr const char* kTwoEventSignature = "504750c1";

// The layout of the reporter's pretty writer.
const std::string kTwoEvents =
    "[\n    {\n        \"appId\": 1,\n        \"eventKey\": \"start_download\",\n"
    "        \"properties\": {\n            \"openid\": \"12345\"\n        }\n    },\n"
    "    {\n        \"appId\": 1,\n        \"eventKey\": \"download_sucess\"\n    }\n]";

class UploadTest : public ::testing::Test {
 protected:
  FetchResult upload(const std::string& body, std::vector<std::string> headers) {
    FetchOptions options;
    options.post = true;
    options.body = body;
    headers.push_back("Content-Type:application/json;charset=UTF-8");
    headers.push_back("User-Agent: vireo-test/1");
    options.headers = headers;
    return fetch(backend_.baseUrl() + "/collection/biz/upload", options);
  }

  rapidjson::Document lastRecord(std::size_t expectedCount) {
    const auto lines = backend_.waitForRecordLines(expectedCount);
    EXPECT_EQ(lines.size(), expectedCount);
    return parseJson(lines.empty() ? "{}" : lines.back());
  }

  ServedTree tree_;
  BackendProcess backend_{tree_.root()};
};

TEST_F(UploadTest, ACorrectlySignedBatchIsRecordedAsValid) {
  ASSERT_TRUE(backend_.running());
  const auto answer = upload(kTwoEvents, {std::string("timestamp: ") + kTimestamp,
                                          std::string("signature: ") + kTwoEventSignature});
  EXPECT_EQ(answer.status, 200);
  EXPECT_TRUE(parseJson(answer.body).IsObject());

  const auto record = lastRecord(1);
  ASSERT_TRUE(record.IsObject());
  EXPECT_TRUE(record["valid"].GetBool());
  EXPECT_EQ(record["events"].GetInt(), 2);
  EXPECT_STREQ(record["headers"]["timestamp"].GetString(), kTimestamp);
  EXPECT_STREQ(record["headers"]["signature"].GetString(), kTwoEventSignature);
  EXPECT_STREQ(record["headers"]["content-type"].GetString(), "application/json;charset=UTF-8");
  EXPECT_STREQ(record["headers"]["user-agent"].GetString(), "vireo-test/1");
  ASSERT_TRUE(record["body"].IsArray());  // parsed, not kept as text
  EXPECT_STREQ(record["body"][0]["eventKey"].GetString(), "start_download");
  EXPECT_STREQ(record["body"][0]["properties"]["openid"].GetString(), "12345");
  EXPECT_STREQ(record["body"][1]["eventKey"].GetString(), "download_sucess");
}

TEST_F(UploadTest, ABadOrIncompleteBatchIsRecordedAsInvalidWithItsReason) {
  ASSERT_TRUE(backend_.running());
  const std::string oneEvent = R"([{"eventKey":"install_start"}])";
  struct Case {
    std::string body;
    std::vector<std::string> headers;
    std::string reason;
  };
  const std::vector<Case> cases = {
      // the two-event signature on a one-event batch: N x 1024 is part of the signing text
      {oneEvent, {std::string("timestamp: ") + kTimestamp, std::string("signature: ") + kTwoEventSignature},
       "signature mismatch"},
      {oneEvent, {"timestamp: 1700000000124", std::string("signature: ") + kOneEventSignature},
       "signature mismatch"},
      {oneEvent, {std::string("timestamp: ") + kTimestamp}, "no signature header"},
      {oneEvent, {std::string("signature: ") + kOneEventSignature}, "no timestamp header"},
      {"<html>not json</html>", {std::string("timestamp: ") + kTimestamp}, "body is not JSON"},
      {R"({"eventKey":"x"})", {std::string("timestamp: ") + kTimestamp}, "body is not a JSON array"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].reason + " / " + cases[i].body);
    EXPECT_EQ(upload(cases[i].body, cases[i].headers).status, 200);
    const auto record = lastRecord(i + 1);
    ASSERT_TRUE(record.IsObject());
    EXPECT_FALSE(record["valid"].GetBool());
    EXPECT_EQ(record["reason"].GetString(), cases[i].reason);
  }
  // The mismatch names the signature it expected; a body that is not JSON is kept as text.
  const auto lines = backend_.recordLines();
  EXPECT_STREQ(parseJson(lines[0])["expectedSignature"].GetString(), kOneEventSignature);
  const auto notJson = parseJson(lines[4]);
  EXPECT_TRUE(notJson["body"].IsNull());
  EXPECT_STREQ(notJson["rawBody"].GetString(), "<html>not json</html>");
}

TEST_F(UploadTest, TheSameBatchSignedCorrectlyIsValid) {
  ASSERT_TRUE(backend_.running());
  upload(R"([{"eventKey":"install_start"}])",
         {std::string("timestamp: ") + kTimestamp, std::string("signature: ") + kOneEventSignature});
  const auto record = lastRecord(1);
  ASSERT_TRUE(record.IsObject());
  EXPECT_TRUE(record["valid"].GetBool()) << record["reason"].GetString();
}

}  // namespace
}  // namespace vireo::testing
