// ZKReporter against the stand-in back end: when batches leave, what they
// carry, how they are signed, and how stop behaves when the service hangs.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "report/event_reports.h"
#include "report/zk_reporter.h"
#include "reporter_fixture.h"

namespace report_tests {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kCommonProperties = {"zud_version", "downloader_version", "zud_mac",
                                                    "device_id", "openid"};

std::vector<std::string> eventKeys(const rapidjson::Value& body) {
  std::vector<std::string> keys;
  for (const auto& event : body.GetArray()) keys.emplace_back(event["eventKey"].GetString());
  return keys;
}

void expectValidBatch(const rapidjson::Document& record, std::size_t events) {
  ASSERT_TRUE(record.IsObject() && record.HasMember("valid") && record.HasMember("body"));
  EXPECT_TRUE(record["valid"].GetBool()) << record["reason"].GetString();
  ASSERT_TRUE(record["body"].IsArray());
  EXPECT_EQ(record["body"].Size(), events);
}

TEST_F(ReporterTest, TwoEventsWaitUntilAThirdEventAFlushOrStop) {
  serve();
  enum class Trigger { ThirdEvent, Flush, Stop };
  const struct {
    Trigger trigger;
    const char* name;
    std::size_t events;
  } cases[] = {{Trigger::ThirdEvent, "third event", 3},
               {Trigger::Flush, "flush", 2},
               {Trigger::Stop, "stop", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = recordCount();
    ZKReporter reporter;
    reporter.start(L"openid-1", L"PCID-1");
    reporter.report(L"start_download");
    reporter.report(L"downloader_start_install");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(recordCount(), before);
    EXPECT_EQ(reporter.pendingCount(), 2u);

    switch (c.trigger) {
      case Trigger::ThirdEvent:
        reporter.report(L"downloader_start_install_success");
        break;
      case Trigger::Flush:
        reporter.flush();
        break;
      case Trigger::Stop:
        reporter.stop();
        // Uploaded before the thread ended, so before stop returned.
        EXPECT_EQ(recordCount(), before + 1);
        break;
    }
    const auto batch = record(before);
    expectValidBatch(batch, c.events);
    std::vector<std::string> expected = {"start_download", "downloader_start_install"};
    if (c.events == 3) expected.push_back("downloader_start_install_success");
    EXPECT_EQ(eventKeys(batch["body"]), expected);
    EXPECT_EQ(reporter.pendingCount(), 0u);
  }
}

TEST_F(ReporterTest, AnEventReportedDuringTheUploadThatStopWaitsForStillGoesOut) {
  BackendOptions options;
  options.faults = {"/collection/biz/upload:stall-before=1500,once"};
  serve(options);
  ZKReporter reporter;
  reporter.start(L"openid-1", L"PCID-1");
  reporter.report(L"call_zud");
  reporter.flush();
  ASSERT_TRUE(waitForMessage(L"post report quest"));
  reporter.report(L"user_cancel", report::stringProperty("cancel_reason", L"installed"));
  reporter.stop();

  ASSERT_EQ(recordCount(), 2u);
  EXPECT_EQ(eventKeys(record(0)["body"]), std::vector<std::string>{"call_zud"});
  EXPECT_EQ(eventKeys(record(1)["body"]), std::vector<std::string>{"user_cancel"});
}

TEST_F(ReporterTest, AStopRightAfterStartStillUploadsWhatWasQueued) {
  serve();
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    const std::size_t before = recordCount();
    ZKReporter reporter;
    reporter.report(L"start_download");
    reporter.report(L"user_cancel", report::stringProperty("cancel_reason", L"normal"));
    reporter.start(L"openid-1", L"PCID-1");
    reporter.stop();  // often before the thread has run at all
    ASSERT_EQ(recordCount(), before + 1);
    EXPECT_EQ(eventKeys(record(before)["body"]),
              (std::vector<std::string>{"start_download", "user_cancel"}));
  }
}

TEST_F(ReporterTest, FlushWithAnEmptyQueueSendsNothingAndLogsNoBody) {
  serve();
  ZKReporter reporter;
  reporter.start(L"openid-1", L"PCID-1");
  ASSERT_TRUE(waitForMessage(L"waitfor event"));
  reporter.flush();
  ASSERT_TRUE(waitForMessage(L"waitfor event", 2));
  const std::vector<std::wstring> expected = {L"waitfor event", L"event comming", L"no body",
                                              L"waitfor event"};
  EXPECT_EQ(threadMessages(), expected);
  reporter.stop();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(recordCount(), 0u);
  EXPECT_TRUE(backend_->requestLines().empty());
}

TEST_F(ReporterTest, EventsCarryTheCommonPropertiesInForceAtUploadThenTheFillersMember) {
  serve();
  ZKReporter reporter;
  // Reported before start: the machine identifier and openid are not known yet.
  reporter.report(L"start_download");
  reporter.report(L"user_cancel", report::stringProperty("cancel_reason", L"normal"));
  reporter.start(L"openid-9", L"PCID-9");
  reporter.flush();

  const auto batch = record(0);
  expectValidBatch(batch, 2);
  const auto& plain = batch["body"][0];
  const auto& withFiller = batch["body"][1];
  EXPECT_EQ(memberNames(plain),
            (std::vector<std::string>{"appId", "eventId", "eventKey", "timestamp", "properties"}));
  EXPECT_EQ(plain["appId"].GetInt(), 1);
  EXPECT_EQ(memberNames(plain["properties"]), kCommonProperties);
  EXPECT_STREQ(plain["properties"]["zud_version"].GetString(), "24.12.26");
  EXPECT_STREQ(plain["properties"]["downloader_version"].GetString(), "24.12.26");
  EXPECT_STREQ(plain["properties"]["zud_mac"].GetString(), "PCID-9");
  EXPECT_STREQ(plain["properties"]["device_id"].GetString(), "PCID-9");
  EXPECT_STREQ(plain["properties"]["openid"].GetString(), "openid-9");

  std::vector<std::string> withCancel = kCommonProperties;
  withCancel.push_back("cancel_reason");
  EXPECT_EQ(memberNames(withFiller["properties"]), withCancel);
  EXPECT_STREQ(withFiller["properties"]["cancel_reason"].GetString(), "normal");

  // Whole seconds in milliseconds, reported a moment ago; one new identifier per event.
  const auto now = static_cast<std::uint64_t>(std::time(nullptr)) * 1000;
  for (const auto* event : {&plain, &withFiller}) {
    ASSERT_TRUE((*event)["timestamp"].IsUint64());
    const std::uint64_t time = (*event)["timestamp"].GetUint64();
    EXPECT_EQ(time % 1000, 0u);
    EXPECT_LE(time, now);
    EXPECT_GE(time + 60000, now);
  }
  EXPECT_GT(std::string(plain["eventId"].GetString()).size(), 30u);
  EXPECT_STRNE(plain["eventId"].GetString(), withFiller["eventId"].GetString());
}

TEST_F(ReporterTest, AnHttpsUploadIsSignedAsTheBackEndRecomputesSentAsUtf8AndLogged) {
  const auto certs = vireo::testing::makeTestCertificates(sandbox_.folder() + "/certs");
  ASSERT_TRUE(certs.ok);
  BackendOptions options;
  options.tlsCertificate = certs.serverCertificate;
  options.tlsKey = certs.serverKey;
  serve(options, "\"trustedCA\": \"" + certs.caCertificate + "\"");
  ASSERT_EQ(backend_->baseUrl().rfind("https://", 0), 0u);

  ZKReporter reporter;
  reporter.start(L"\u73a9\u5bb6-1", L"PCID-1");  // an openid beyond ASCII
  reporter.report(L"complete_install");
  reporter.flush();
  const auto batch = record(0);
  expectValidBatch(batch, 1);
  EXPECT_STREQ(batch["body"][0]["properties"]["openid"].GetString(), "\xe7\x8e\xa9\xe5\xae\xb6-1");
  const auto& headers = batch["headers"];
  EXPECT_STREQ(headers["content-type"].GetString(), "application/json;charset=UTF-8");
  EXPECT_STREQ(headers["signature"].GetString(), batch["expectedSignature"].GetString());
  const std::string timestamp = headers["timestamp"].GetString();
  const auto now = static_cast<std::uint64_t>(std::time(nullptr)) * 1000;
  EXPECT_LE(std::stoull(timestamp), now + 999);
  EXPECT_GE(std::stoull(timestamp) + 60000, now);

  // Body, request line, answer; the body as it was sent.
  ASSERT_TRUE(waitForMessage(L"report ret:{\"code\":0,\"msg\":\"ok\"}"));
  const auto messages = threadMessages();
  ASSERT_GE(messages.size(), 5u);
  EXPECT_EQ(messages[0], L"waitfor event");
  EXPECT_EQ(messages[1], L"event comming");
  EXPECT_EQ(messages[2].rfind(L"[\n    {\n        \"appId\": 1,\n", 0), 0u) << messages[2];
  EXPECT_NE(messages[2].find(L"\"eventKey\": \"complete_install\""), std::wstring::npos);
  EXPECT_EQ(messages[3], L"post report quest");
}

TEST_F(ReporterTest, StopReturnsWithinItsLimitWhenTheServiceStallsOrIsUnreachable) {
  const std::string stopWait = "\"timeouts\": {\"reporterStop\": 1000}";
  struct Case {
    const char* name;
    bool stall;
  };
  for (const Case c : {Case{"stalling", true}, Case{"unreachable", false}}) {
    SCOPED_TRACE(c.name);
    log_.clear();
    if (c.stall) {
      BackendOptions options;
      options.faults = {"/collection/biz/upload:stall-before=30000"};
      serve(options, stopWait);
    } else {
      serve({}, stopWait);
      const std::string address = backend_->baseUrl();
      backend_->stop();  // nothing listens on its port any more
      useAnalytics(address, stopWait);
    }
    // A let-go thread may still use its reporter: it is never freed.
    static auto* const keptAlive = new std::vector<ZKReporter*>();
    auto* reporter = new ZKReporter();
    keptAlive->push_back(reporter);

    reporter->start(L"openid-1", L"PCID-1");
    reporter->report(L"user_cancel", report::stringProperty("cancel_reason", L"normal"));
    reporter->flush();
    ASSERT_TRUE(waitForMessage(L"post report quest"));
    if (c.stall) std::this_thread::sleep_for(200ms);  // the request is in the air

    const auto began = std::chrono::steady_clock::now();
    reporter->stop();
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_LT(took, 3s);
    if (c.stall) {
      EXPECT_GE(took, 900ms);
    }
    // The abandoned transfer ends soon after: the let-go thread finishes.
    EXPECT_TRUE(waitForMessage(L"report ret:", 1, 5s));
  }
}

TEST_F(ReporterTest, TheProcessWideReporterCarriesTheVocabularyHelpers) {
  serve();
  ZKReporter* reporter = ZKReporter::getInstance();
  EXPECT_EQ(reporter, ZKReporter::getInstance());
  reporter->start(L"openid-3", L"PCID-3");

  report::reportEvent(report::key::kStartDownload);
  report::reportRunError(193);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(recordCount(), 0u);  // neither flushes
  // Leaving while downloading: both events in the same upload as what was pending.
  report::reportExitConfirmed(1);
  auto batch = record(0);
  expectValidBatch(batch, 4);
  EXPECT_EQ(eventKeys(batch["body"]),
            (std::vector<std::string>{"start_download", "downloader_install_fail", "user_cancel",
                                      "download_fail"}));
  EXPECT_STREQ(batch["body"][1]["properties"]["failure_reason"].GetString(), "runerror_193");
  EXPECT_STREQ(batch["body"][2]["properties"]["cancel_reason"].GetString(), "downloading");
  EXPECT_STREQ(batch["body"][3]["properties"]["failure_reason"].GetString(), "user_cancel");

  report::reportInstallError(0xFFFFFFFB);  // flushes by itself
  batch = record(1);
  expectValidBatch(batch, 1);
  EXPECT_STREQ(batch["body"][0]["eventKey"].GetString(), "downloader_install_fail");
  EXPECT_STREQ(batch["body"][0]["properties"]["failure_reason"].GetString(), "errorcode_-5");

  report::reportJump(L"http://www.vireo.example/");
  reporter->stop();
  batch = record(2);
  expectValidBatch(batch, 1);
  EXPECT_STREQ(batch["body"][0]["properties"]["link_address"].GetString(),
               "http://www.vireo.example/");
}

}  // namespace
}  // namespace report_tests
