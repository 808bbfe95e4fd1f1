#include "utility/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/code_pages.h"
#include "platform/drives.h"

namespace common {
namespace {

// Written once at start-up (and by tests that swap the handler while other
// threads may log), read by every logging thread.
std::atomic<LogHandler> installedHandler{nullptr};
std::atomic<LogWriter*> processWriter{nullptr};

constexpr auto kWriterPeriod = std::chrono::milliseconds(500);

}  // namespace

void setLogHandler(LogHandler handler) { installedHandler = handler; }

void log(const char* function, int line, const wchar_t* format, ...) {
  LogHandler handler = installedHandler.load();
  if (!handler || !format) return;
  // Zeroed first: after a failed conversion vswprintf leaves the rest of the
  // buffer as it was.
  wchar_t message[kMessageUnits];
  std::wmemset(message, L'\0', kMessageUnits);
  va_list args;
  va_start(args, format);
  // On overflow vswprintf keeps what fits (terminated) and returns -1: the
  // message is cut at the limit.
  std::vswprintf(message, kMessageUnits, format, args);
  va_end(args);
  message[kMessageUnits - 1] = L'\0';
  handler(function, line, message);
}

void writeLogLine(const char* function, int line, const wchar_t* text) {
  LogStream stream(function, line);
  stream << text;
}

void initLog(const std::wstring& path) {
  if (path.empty() || processWriter) return;
  std::string host = platform::hostPath(path);
  processWriter = new LogWriter(host);  // lives as long as the process
}

void flushLog() {
  if (LogWriter* writer = processWriter.load()) writer->flush();
}

size_t formatLineHeader(char* out, size_t capacity, int month, int day, int hour, int minute,
                        int second, int millisecond, std::uint32_t threadId,
                        const char* function, int line) {
  int n = std::snprintf(out, capacity, "%02d-%02d\t%02d:%02d:%02d.%03d\t%04u\t%s\t(%d):", month,
                        day, hour, minute, second, millisecond, threadId, function, line);
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(n) < capacity ? static_cast<size_t>(n) : capacity - 1;
}

LogStream::LogStream(const char* function, int line) {
  platform::LocalTime t = platform::localTime();
  // A header cut at the limit still leaves room for the "\r\n" that ends the line.
  put_ = formatLineHeader(line_, sizeof line_ - 2, t.month, t.day, t.hour, t.minute, t.second,
                          t.millisecond, platform::currentThreadId(), function ? function : "",
                          line);
}

LogStream& LogStream::operator<<(const wchar_t* text) {
  if (!text || finished_) return *this;
  size_t room = sizeof line_ - 2 - put_;  // put_ never passes sizeof line_ - 2
  put_ += platform::wideToUtf8Into(text, line_ + put_, room);
  return *this;
}

size_t LogStream::finish(const char*& data) {
  if (!finished_) {
    line_[put_++] = '\r';
    line_[put_++] = '\n';
    finished_ = true;
  }
  data = line_;
  return put_;
}

LogStream::~LogStream() {
  const char* data;
  size_t length = finish(data);
  if (LogWriter* writer = processWriter.load()) writer->append(data, length);
}

LogWriter::LogWriter(std::string hostPath, bool startNow) : path_(std::move(hostPath)) {
  if (startNow) start();
}

LogWriter::~LogWriter() { stop(); }

void LogWriter::start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

void LogWriter::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopFlag_ = 1;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void LogWriter::append(const char* line, size_t length) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (pending_.size() > pendingLimit_) return;
  pending_.append(line, length);
  bool full = pending_.size() >= pendingLimit_;
  lock.unlock();
  if (full) wake_.notify_one();
}

size_t LogWriter::pendingBytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_.size();
}

void LogWriter::flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!thread_.joinable()) return;
  std::uint64_t target = passes_ + 1;
  flushRequested_ = true;
  wake_.notify_one();
  written_.wait_for(lock, std::chrono::seconds(2), [&] { return passes_ >= target; });
}

void LogWriter::openFile() {
  using std::ios;
  file_.open(path_, ios::in | ios::out | ios::app | ios::binary);
  char mark[2] = {0, 0};
  file_.read(mark, 2);
  if (file_.gcount() == 2 && static_cast<unsigned char>(mark[0]) == 0xFF &&
      static_cast<unsigned char>(mark[1]) == 0xFE) {
    // A UTF-16 log of an older version: start afresh.
    file_.close();
    reopenEmpty(nullptr, 0);
  } else {
    file_.clear();
    file_.seekp(0, ios::end);
  }
}

void LogWriter::run() {
  openFile();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait_for(lock, kWriterPeriod, [&] {
      return stopFlag_ || flushRequested_ || pending_.size() >= pendingLimit_;
    });
    flushRequested_ = false;
    if (!pending_.empty()) writePending();
    ++passes_;
    written_.notify_all();
    if (stopFlag_) break;
  }
  file_.close();
}

void LogWriter::writePending() {
  file_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
  file_.flush();
  pending_.clear();
  trimIfNeeded();
}

void LogWriter::trimIfNeeded() {
  using std::ios;
  std::streamoff end = file_.tellp();
  if (end < 0 || static_cast<std::uint64_t>(end) < kTrimAt) return;
  std::vector<char> tail(kKeepAfterTrim, 0);
  file_.seekg(end - static_cast<std::streamoff>(kKeepAfterTrim));
  file_.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  std::streamsize got = file_.gcount();
  file_.close();
  reopenEmpty(tail.data(), got);
}

void LogWriter::reopenEmpty(const char* keep, std::streamsize length) {
  using std::ios;
  {
    std::ofstream empty(path_, ios::out | ios::trunc | ios::binary);
    if (length > 0) empty.write(keep, length);
  }
  // Appending again, so that lines of another process writing the same file
  // are never overwritten, and readable, so that the next trim reads its tail.
  file_.open(path_, ios::in | ios::out | ios::app | ios::binary);
}

const char* qualifiedFunctionName(const char* pretty) {
  std::string s = pretty;
  // The parameter list starts at the first '(' outside template brackets.
  int depth = 0;
  size_t open = std::string::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '<') ++depth;
    else if (c == '>' && depth > 0) --depth;
    else if (c == '(' && depth == 0) {
      if (s.compare(i >= 8 ? i - 8 : 0, 8, "operator") == 0 && s.compare(i, 2, "()") == 0) {
        continue;
      }
      open = i;
      break;
    }
  }
  if (open == std::string::npos) open = s.size();
  // The name starts after the last blank outside template brackets.
  size_t start = 0;
  depth = 0;
  for (size_t i = open; i-- > 0;) {
    char c = s[i];
    if (c == '>') ++depth;
    else if (c == '<' && depth > 0) --depth;
    else if (c == ' ' && depth == 0) {
      start = i + 1;
      break;
    }
  }
  std::string name = s.substr(start, open - start);
  const std::string anonymous = "{anonymous}::";
  for (size_t at; (at = name.find(anonymous)) != std::string::npos;) name.erase(at, anonymous.size());
  if (name.rfind('*', 0) == 0 || name.rfind('&', 0) == 0) name.erase(0, 1);
  // Names are kept for the life of the process (every call site keeps the
  // pointer in a static), once per distinct name.
  static std::mutex namesMutex;
  static auto* names = new std::set<std::string>;
  std::lock_guard<std::mutex> lock(namesMutex);
  return names->insert(std::move(name)).first->c_str();
}

}  // namespace common
