// The diagnostic log: one UTF-8 file, lines collected in memory and written by
// one background thread at least every 500 ms, cut back to its last 2 MiB
// whenever it reaches 50 MiB.
//
//   VLOG(L"open reg = %ls, lastError = %d", key.c_str(), error);
//
// writes "12-08\t23:15:01.042\t4312\tutility::RegKey::RegRegOpen\t(57):open reg = ...\r\n".
// Wide strings are passed with %ls (on Linux %s in a wide format is narrow).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

namespace common {

using LogHandler = void (*)(const char* function, int line, const wchar_t* text);

constexpr size_t kMessageUnits = 8192;     // formatted message, terminator included
constexpr size_t kLineBytes = 10240;       // a whole line: header, message, "\r\n"
constexpr size_t kPendingLimit = 10240;    // pending text that wakes / stops appends
constexpr std::uint64_t kTrimAt = 52428800;  // 50 MiB
constexpr std::uint64_t kKeepAfterTrim = 2097152;  // 2 MiB

// Installs the handler that common::log hands formatted messages to. Start-up
// installs common::writeLogLine; before that, common::log does nothing.
void setLogHandler(LogHandler handler);

// Formats the message (wide printf rules, cut at 8,191 units) and passes it to
// the handler together with the function name and the source line.
void log(const char* function, int line, const wchar_t* format, ...);

// The default handler: formats one line and hands it to the writer; drops it
// when common::initLog has not run.
void writeLogLine(const char* function, int line, const wchar_t* text);

// Creates the process's writer for the log file at `path` (a Windows path)
// and starts its thread. Does nothing for an empty path or when it exists.
void initLog(const std::wstring& path);

// Waits until every line appended so far has been written (at most 2 s).
void flushLog();

// The header of a line: "MM-DD\tHH:MM:SS.mmm\tTTTT\tfunction\t(line):".
// Returns its length; never more than capacity - 1.
size_t formatLineHeader(char* out, size_t capacity, int month, int day, int hour, int minute,
                        int second, int millisecond, std::uint32_t threadId,
                        const char* function, int line);

// One log line under construction in a fixed array: the constructor writes
// the header, insertion adds UTF-8 text (cut at the line limit), and the
// destructor ends the line with "\r\n" and hands it to the writer.
class LogStream {
 public:
  LogStream(const char* function, int line);
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;
  LogStream& operator<<(const wchar_t* text);
  ~LogStream();

  // The finished line as the destructor would hand it over (tests).
  size_t finish(const char*& data);

 private:
  char line_[kLineBytes];
  size_t put_ = 0;
  bool finished_ = false;
};

// The single background writer.
class LogWriter {
 public:
  // `hostPath` is the file on the host. `start` false leaves the thread
  // unstarted, for tests that look at the pending text.
  explicit LogWriter(std::string hostPath, bool start = true);
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  void start();
  void append(const char* line, size_t length);  // one finished line
  size_t pendingBytes();
  void flush();  // waits until the pending text has been written

  // Stops the thread after a last write (tests; the installer never stops it).
  void stop();
  ~LogWriter();

 private:
  void run();
  void openFile();
  void writePending();
  void trimIfNeeded();
  void reopenEmpty(const char* keep, std::streamsize length);

  int stopFlag_ = 0;
  bool flushRequested_ = false;
  const size_t pendingLimit_ = kPendingLimit;
  std::string pending_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable written_;
  std::thread thread_;
  std::fstream file_;
  std::string path_;
  std::uint64_t passes_ = 0;
};

// The qualified name of a function from __PRETTY_FUNCTION__
// ("void utility::ufile::makeDir(const wstring&)" -> "utility::ufile::makeDir").
const char* qualifiedFunctionName(const char* prettyFunction);

}  // namespace common

// Logs under the enclosing function's qualified name.
#define VLOG(...)                                                                           \
  do {                                                                                      \
    static const char* const vireo_log_function_ =                                          \
        ::common::qualifiedFunctionName(__PRETTY_FUNCTION__);                               \
    ::common::log(vireo_log_function_, __LINE__, __VA_ARGS__);                              \
  } while (0)

// Logs under a given function name (where the log names another function).
#define VLOG_AS(function, ...) ::common::log(function, __LINE__, __VA_ARGS__)
