// The batch text, the upload signature and the vocabulary's reason texts:
// pure functions, compared with exact expected values.
#include <gtest/gtest.h>

#include <ctime>
#include <list>
#include <string>

#include "report/batch_document.h"
#include "report/event_reports.h"
#include "report/upload_signature.h"

namespace {

report::EventIdSource countingIds() {
  return [next = 0]() mutable { return L"GUID-" + std::to_wstring(++next); };
}

TEST(BatchDocument, IsWrittenInThePrettyLayoutWithTheFillersMembersLast) {
  std::list<report::EventRecord> records;
  records.push_back({L"start_download", 1700000000000, {}});
  records.push_back(
      {L"user_cancel", 1700000001000, report::stringProperty("cancel_reason", L"downloading")});
  const report::BatchIdentity identity{L"24.12.26", L"PCID42", L"openid-7"};

  const std::string expected =
      "[\n"
      "    {\n"
      "        \"appId\": 1,\n"
      "        \"eventId\": \"GUID-1\",\n"
      "        \"eventKey\": \"start_download\",\n"
      "        \"timestamp\": 1700000000000,\n"
      "        \"properties\": {\n"
      "            \"zud_version\": \"24.12.26\",\n"
      "            \"downloader_version\": \"24.12.26\",\n"
      "            \"zud_mac\": \"PCID42\",\n"
      "            \"device_id\": \"PCID42\",\n"
      "            \"openid\": \"openid-7\"\n"
      "        }\n"
      "    },\n"
      "    {\n"
      "        \"appId\": 1,\n"
      "        \"eventId\": \"GUID-2\",\n"
      "        \"eventKey\": \"user_cancel\",\n"
      "        \"timestamp\": 1700000001000,\n"
      "        \"properties\": {\n"
      "            \"zud_version\": \"24.12.26\",\n"
      "            \"downloader_version\": \"24.12.26\",\n"
      "            \"zud_mac\": \"PCID42\",\n"
      "            \"device_id\": \"PCID42\",\n"
      "            \"openid\": \"openid-7\",\n"
      "            \"cancel_reason\": \"downloading\"\n"
      "        }\n"
      "    }\n"
      "]";
  EXPECT_EQ(report::buildBatchDocument(records, identity, countingIds()), expected);
}

TEST(BatchDocument, EmptyQueueGivesAnEmptyArrayAndWideTextBecomesUtf8) {
  const report::BatchIdentity identity{L"24.12.26", L"", L""};
  EXPECT_EQ(report::buildBatchDocument({}, identity, countingIds()), "[]");

  // An empty openid is an empty string; a wide value reaches the body as UTF-8.
  std::list<report::EventRecord> records;
  records.push_back(
      {L"downloader_jump", 0, report::stringProperty("link_address", L"http://x.example/\u4e2d")});
  const std::string body = report::buildBatchDocument(records, identity, countingIds());
  EXPECT_NE(body.find("\"openid\": \"\",\n"), std::string::npos) << body;
  EXPECT_NE(body.find("\"link_address\": \"http://x.example/\xe4\xb8\xad\""), std::string::npos)
      << body;
  EXPECT_NE(body.find("\"timestamp\": 0,"), std::string::npos) << body;
}

TEST(UploadSignature, IsTheLastEightHexDigitsOfTheSigningTextsMd5) {
  // Digests computed independently with md5sum.
  struct Case {
    std::uint32_t events;
    const char* text;
    const char* signature;
  };
  const Case cases[] = {
      {1, "xrxnjccg*gdovrfekb=17000000001231024", "aa190d79"},
      {2, "xrxnjccg*gdovrfekb=17000000001232048", "504750c1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(report::signingText(1700000000123, c.events), c.text);
    std::string signature;
    ASSERT_TRUE(report::uploadSignature(1700000000123, c.events, signature));
    EXPECT_EQ(signature, c.signature);
  }
}

TEST(UploadSignature, RequestTimeIsWholeSecondsTimesAThousandPlusTickDigits) {
  const std::uint64_t before = static_cast<std::uint64_t>(std::time(nullptr)) * 1000;
  const std::uint64_t t = report::requestTimestamp();
  const std::uint64_t after = static_cast<std::uint64_t>(std::time(nullptr)) * 1000 + 999;
  EXPECT_GE(t, before);
  EXPECT_LE(t, after);
}

TEST(ReasonTexts, CodesAreWrittenSignedOrUnsignedAsTheVocabularySays) {
  EXPECT_EQ(report::installErrorReason(5), L"errorcode_5");
  EXPECT_EQ(report::installErrorReason(0), L"errorcode_0");
  EXPECT_EQ(report::installErrorReason(0x7FFFFFFF), L"errorcode_2147483647");
  EXPECT_EQ(report::installErrorReason(0x80000000), L"errorcode_-2147483648");
  EXPECT_EQ(report::installErrorReason(0xFFFFFFFB), L"errorcode_-5");
  // Only the 32-bit value of the message parameter counts.
  EXPECT_EQ(report::installErrorReason(static_cast<WPARAM>(0x1FFFFFFFBull)), L"errorcode_-5");

  EXPECT_EQ(report::runErrorReason(193), L"runerror_193");
  EXPECT_EQ(report::runErrorReason(0xFFFFFFFF), L"runerror_4294967295");

  EXPECT_STREQ(report::exitCancelReason(1), L"downloading");
  EXPECT_STREQ(report::exitCancelReason(3), L"installed");
  EXPECT_STREQ(report::exitCancelReason(0), L"normal");
  EXPECT_STREQ(report::exitCancelReason(2), L"normal");
}

}  // namespace
