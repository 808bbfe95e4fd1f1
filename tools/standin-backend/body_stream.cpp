#include "body_stream.h"

#include <algorithm>
#include <chrono>

#include "stop_flag.h"

namespace standin {
namespace {

constexpr std::size_t kChunkBytes = 256 * 1024;
// A throttled body is sent in slices of about 1/20 s, so its rate is even.
constexpr std::uint64_t kThrottleSlicesPerSecond = 20;

class FileBodySource final : public BodySource {
 public:
  explicit FileBodySource(std::shared_ptr<OpenFile> file) : file_(std::move(file)) {}
  std::uint64_t size() const override { return file_->size(); }
  long long readAt(std::uint64_t offset, char* buffer, std::size_t length) const override {
    return file_->readAt(offset, buffer, length);
  }

 private:
  std::shared_ptr<OpenFile> file_;
};

class MemoryBodySource final : public BodySource {
 public:
  explicit MemoryBodySource(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  long long readAt(std::uint64_t offset, char* buffer, std::size_t length) const override {
    if (offset >= bytes_.size()) return 0;
    const std::size_t count = std::min<std::uint64_t>(length, bytes_.size() - offset);
    std::copy_n(bytes_.data() + offset, count, buffer);
    return static_cast<long long>(count);
  }

 private:
  std::string bytes_;
};

char* threadChunkBuffer() {
  thread_local std::unique_ptr<char[]> buffer(new char[kChunkBytes]);
  return buffer.get();
}

// One response body on its way out; the provider calls `step` until done.
class BodyStream {
 public:
  explicit BodyStream(BodyPlan plan) : plan_(std::move(plan)) {}

  bool finished() const { return sent_ >= plan_.length; }

  // Sends the next slice; false ends the response (the connection is cut).
  bool step(httplib::DataSink& sink) {
    if (sent_ == 0 && !started_) {
      started_ = true;
      began_ = std::chrono::steady_clock::now();
    }
    if (!stallIfDue()) return false;
    const Faults& faults = plan_.faults;
    if (faults.cutAfter && sent_ >= *faults.cutAfter) return false;
    if (finished()) return true;

    const std::size_t count = nextSliceSize();
    char* buffer = threadChunkBuffer();
    const long long read = plan_.source->readAt(plan_.start + sent_, buffer, count);
    if (read <= 0) return false;  // the file shrank under us
    if (!sink.write(buffer, static_cast<std::size_t>(read))) return false;
    sent_ += static_cast<std::uint64_t>(read);
    currentSendTally().sent += static_cast<std::uint64_t>(read);
    return keepToThrottle();
  }

 private:
  bool stallIfDue() {
    const auto& stalls = plan_.faults.stallsAt;
    while (nextStall_ < stalls.size() && stalls[nextStall_].first <= sent_) {
      if (!sleepUnlessStopped(std::chrono::milliseconds(stalls[nextStall_].second))) return false;
      ++nextStall_;
    }
    return true;
  }

  std::size_t nextSliceSize() const {
    const Faults& faults = plan_.faults;
    std::uint64_t count = std::min<std::uint64_t>(kChunkBytes, plan_.length - sent_);
    if (nextStall_ < faults.stallsAt.size())
      count = std::min(count, faults.stallsAt[nextStall_].first - sent_);
    if (faults.cutAfter) count = std::min(count, *faults.cutAfter - sent_);
    if (faults.throttleBytesPerSecond)
      count = std::min(count, std::max<std::uint64_t>(
                                  1, *faults.throttleBytesPerSecond / kThrottleSlicesPerSecond));
    return static_cast<std::size_t>(count);
  }

  // Waits until the bytes sent so far are due at the throttled rate.
  bool keepToThrottle() {
    if (!plan_.faults.throttleBytesPerSecond) return true;
    const double seconds =
        static_cast<double>(sent_) / static_cast<double>(*plan_.faults.throttleBytesPerSecond);
    const auto due = began_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(seconds));
    const auto now = std::chrono::steady_clock::now();
    if (due <= now) return true;
    return sleepUnlessStopped(std::chrono::ceil<std::chrono::milliseconds>(due - now));
  }

  BodyPlan plan_;
  std::uint64_t sent_ = 0;
  std::size_t nextStall_ = 0;
  bool started_ = false;
  std::chrono::steady_clock::time_point began_;
};

}  // namespace

std::shared_ptr<const BodySource> fileBody(std::shared_ptr<OpenFile> file) {
  return std::make_shared<FileBodySource>(std::move(file));
}

std::shared_ptr<const BodySource> memoryBody(std::string bytes) {
  return std::make_shared<MemoryBodySource>(std::move(bytes));
}

SendTally& currentSendTally() {
  thread_local SendTally tally;
  return tally;
}

void attachBody(httplib::Response& response, BodyPlan plan, const std::string& contentType) {
  SendTally& tally = currentSendTally();
  tally = SendTally{true, plan.length, 0};

  const bool chunked = plan.faults.chunked;
  const std::uint64_t length = plan.length;
  if (length == 0 && !chunked) {
    response.set_content(std::string(), contentType);  // "Content-Length: 0"
    return;
  }
  auto stream = std::make_shared<BodyStream>(std::move(plan));
  if (chunked) {
    response.set_chunked_content_provider(
        contentType, [stream](std::size_t, httplib::DataSink& sink) {
          if (!stream->step(sink)) return false;
          if (stream->finished()) sink.done();
          return true;
        });
  } else {
    response.set_content_provider(
        static_cast<std::size_t>(length), contentType,
        [stream](std::size_t, std::size_t, httplib::DataSink& sink) { return stream->step(sink); });
  }
}

}  // namespace standin
