#include "report/zk_reporter.h"

#include <utility>
#include <vector>

#include "config/installer_contract.h"
#include "config/services.h"
#include "net/zk_curl_downloader.h"
#include "platform/clock.h"
#include "platform/machine_profile.h"
#include "report/batch_document.h"
#include "report/upload_signature.h"
#include "utility/log.h"
#include "utility/ustring.h"
#include "utility/usystem.h"

namespace {

constexpr const char* kThreadFunction = "ZKReporter::_threadReport";
constexpr std::uint32_t kWakeEveryMs = 300000;
constexpr std::uint32_t kStopWaitMs = 5000;
constexpr std::uint32_t kWakeAtPending = 3;
constexpr std::size_t kLongestEmptyBody = 5;  // "[]" and nothing more

std::string uploadAddress() {
  return utility::ustring::wideToAnsi(config::serviceAddresses().analytics + config::kUploadPath);
}

// postRequest takes its body in the ANSI code page and sends it as UTF-8.
// The batch is UTF-8 already: hand it over in ANSI so that text beyond ASCII
// (an openid in Chinese) arrives intact instead of being converted twice.
std::string bodyForPost(const std::string& utf8Body) {
  const std::string ansi = utility::ustring::wideToAnsi(utility::ustring::utf8ToWide(utf8Body));
  return ansi.empty() ? utf8Body : ansi;
}

}  // namespace

ZKReporter* ZKReporter::getInstance() {
  static ZKReporter* const instance = new ZKReporter();
  return instance;
}

ZKReporter::ZKReporter() = default;

ZKReporter::~ZKReporter() {
  stopFlag_ = true;
  abandonUpload_ = true;
  wake_.set();
  thread_.stop(INFINITE);
}

void ZKReporter::start(const std::wstring& openid, const std::wstring& pcid) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    openid_ = openid;
    pcid_ = pcid;
  }
  if (!thread_.start(new MemberFuncRunable(this, &ZKReporter::_threadReport))) {
    VLOG(L"report thread not started");
  }
}

void ZKReporter::report(const std::wstring& key, Filler filler) {
  std::vector<Event> events;
  events.push_back({key, std::move(filler)});
  enqueue(std::move(events));
}

void ZKReporter::reportTogether(std::vector<Event> events) { enqueue(std::move(events)); }

void ZKReporter::enqueue(std::vector<Event> events) {
  const std::int64_t time = platform::unixSeconds() * 1000;
  std::list<report::EventRecord> records;
  for (Event& event : events) {
    records.push_back({std::move(event.key), time, std::move(event.filler)});
  }
  std::uint32_t pending;
  {
    std::lock_guard<std::mutex> lock(lock_);
    count_ += static_cast<std::uint32_t>(records.size());
    pending = count_;
    queue_.splice(queue_.end(), records);
  }
  if (pending >= kWakeAtPending) wake_.set();
}

void ZKReporter::flush() { wake_.set(); }

void ZKReporter::stop() {
  stopFlag_ = true;
  wake_.set();
  thread_.requestStop();
  if (!thread_.stop(platform::scaledWaitMs("reporterStop", kStopWaitMs))) {
    abandonUpload_ = true;
    VLOG(L"report thread still busy, its upload is lost");
  }
}

std::uint32_t ZKReporter::pendingCount() {
  std::lock_guard<std::mutex> lock(lock_);
  return count_;
}

void ZKReporter::_threadReport() {
  // A stop that came before this thread ran still gets its last upload of
  // what was queued; with nothing queued there is nothing to do.
  if (stopFlag_ && pendingCount() == 0) return;
  for (;;) {
    VLOG(L"waitfor event");
    wake_.wait(platform::scaledWaitMs("reporterWake", kWakeEveryMs));
    VLOG(L"event comming");
    // Read before the queue is taken: a batch taken after stop() was called
    // holds everything reported before it, so it is the last one.
    const bool finalPass = stopRequested();
    std::uint32_t eventCount = 0;
    const std::string body = takeBatch(eventCount);
    if (body.size() <= kLongestEmptyBody) {
      VLOG(L"no body");
    } else {
      uploadBatch(body, eventCount);
    }
    if (finalPass) return;
    // A stop that came during this pass: one more pass when events arrived
    // meanwhile (the wake event is already signalled), none otherwise.
    if (stopRequested() && pendingCount() == 0) return;
  }
}

bool ZKReporter::stopRequested() const { return stopFlag_ || thread_.isStopping(); }

// Empties the queue into one document; the fillers run here, under the lock.
std::string ZKReporter::takeBatch(std::uint32_t& eventCount) {
  std::lock_guard<std::mutex> lock(lock_);
  eventCount = count_;
  const report::BatchIdentity identity{contract::kVersion, pcid_, openid_};
  std::string body =
      report::buildBatchDocument(queue_, identity, &utility::usystem::createGuidString);
  queue_.clear();
  count_ = 0;
  return body;
}

void ZKReporter::uploadBatch(const std::string& body, std::uint32_t eventCount) {
  const std::uint64_t timestamp = report::requestTimestamp();
  std::string signature;
  if (!report::uploadSignature(timestamp, eventCount, signature)) {
    VLOG_AS(kThreadFunction, L"md5 calc error!!");
    return;
  }
  VLOG_AS(kThreadFunction, L"%ls", utility::ustring::utf8ToWide(body).c_str());
  VLOG_AS(kThreadFunction, L"post report quest");
  const std::vector<std::string> headers = {"timestamp: " + std::to_string(timestamp),
                                            "signature: " + signature};
  std::string response;
  ZKCurlDownloader(&abandonUpload_)
      .postRequest(bodyForPost(body), response, uploadAddress(), headers);
  VLOG_AS(kThreadFunction, L"report ret:%ls", utility::ustring::utf8ToWide(response).c_str());
}
