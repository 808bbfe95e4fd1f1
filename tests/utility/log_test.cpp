#include "utility/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "log_capture.h"
#include "run_program.h"
#include "platform/clock.h"
#include "support/sandbox.h"

using utility_tests::LogCapture;
using vireo::testing::readHostFile;
using vireo::testing::Sandbox;
using vireo::testing::writeHostFile;

namespace logtest {
struct Model {
  static void notify(int n) {
    VLOG(L"direct %d", n);
    auto later = [n] { VLOG(L"from a lambda %d", n); };
    later();
  }
};
}  // namespace logtest

namespace {

std::string header(std::uint32_t threadId, const char* function = "f", int line = 1) {
  char out[256];
  size_t n = common::formatLineHeader(out, sizeof out, 12, 8, 23, 15, 1, 42, threadId, function,
                                      line);
  return std::string(out, n);
}

std::string finishedLine(common::LogStream& stream) {
  const char* data = nullptr;
  size_t length = stream.finish(data);
  return std::string(data, length);
}

// A line that is `bytes` long with its "\r\n".
std::string lineOf(size_t bytes, char fill) { return std::string(bytes - 2, fill) + "\r\n"; }

TEST(LogLine, HeaderFormat) {
  EXPECT_EQ(header(4312, "BXDownloaderModel::_calcInstallPath", 57),
            "12-08\t23:15:01.042\t4312\tBXDownloaderModel::_calcInstallPath\t(57):");
  EXPECT_EQ(header(44), "12-08\t23:15:01.042\t0044\tf\t(1):");
  EXPECT_EQ(header(7), "12-08\t23:15:01.042\t0007\tf\t(1):");
  EXPECT_EQ(header(123456), "12-08\t23:15:01.042\t123456\tf\t(1):");

  char small[10];
  EXPECT_EQ(common::formatLineHeader(small, sizeof small, 1, 2, 3, 4, 5, 6, 7, "f", 8), 9u);
  EXPECT_EQ(std::string(small), "01-02\t03:");
}

TEST(LogLine, AWholeLineCarriesTimeThreadFunctionLineAndUtf8Message) {
  common::LogStream stream("utility::ufile::makeDir", 42);
  stream << L"make dir failed! 中文路径 é";
  std::string line = finishedLine(stream);

  char thread[16];
  std::snprintf(thread, sizeof thread, "%04u", platform::currentThreadId());
  std::regex shape(R"(^\d\d-\d\d\t\d\d:\d\d:\d\d\.\d\d\d\t(\d+)\tutility::ufile::makeDir\t\(42\):(.*)\r\n$)");
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(line, parts, shape)) << line;
  EXPECT_EQ(parts[1].str(), thread);
  EXPECT_EQ(parts[2].str(), "make dir failed! \xE4\xB8\xAD\xE6\x96\x87\xE8\xB7\xAF\xE5\xBE\x84 \xC3\xA9");
}

TEST(LogLine, FunctionNamesAreWrittenByteForByte) {
  common::LogStream stream("\xE5\x87\xBD::f\x01", 3);
  std::string line = finishedLine(stream);
  EXPECT_NE(line.find("\t\xE5\x87\xBD::f\x01\t(3):\r\n"), std::string::npos);
}

TEST(LogLine, TextBeyondTheLineLimitIsCutAtWholeCharacters) {
  {
    common::LogStream stream("f", 1);
    stream << std::wstring(20000, L'x').c_str();
    std::string line = finishedLine(stream);
    EXPECT_EQ(line.size(), common::kLineBytes);
    EXPECT_EQ(line.substr(line.size() - 3), "x\r\n");
  }
  {
    common::LogStream stream("f", 1);
    stream << std::wstring(5000, L'中').c_str();  // 3 bytes each
    std::string line = finishedLine(stream);
    EXPECT_LE(line.size(), common::kLineBytes);
    EXPECT_GT(line.size(), common::kLineBytes - 3);
    size_t headerEnd = line.find("(1):") + 4;
    EXPECT_EQ((line.size() - 2 - headerEnd) % 3, 0u);  // no character split
    EXPECT_EQ(line.substr(line.size() - 5), "\xE4\xB8\xAD\r\n");
  }
  {
    // Even a function name longer than a line leaves a bounded, ended line.
    std::string name(12000, 'n');
    common::LogStream stream(name.c_str(), 1);
    stream << L"lost";
    std::string line = finishedLine(stream);
    EXPECT_EQ(line.size(), common::kLineBytes);
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  }
}

TEST(LogFormat, MessagesAreFormattedAndCutAt8191Units) {
  LogCapture capture;
  common::log("a::b", 7, L"value %d, text [%ls]", 42, L"中");
  std::wstring longText(10000, L'y');
  common::log("a::b", 8, L"%ls", longText.c_str());
  auto messages = capture.messages("a::b");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], L"value 42, text [中]");
  EXPECT_EQ(messages[1], std::wstring(common::kMessageUnits - 1, L'y'));
}

TEST(LogFormat, ANarrowUtf8ArgumentIsLoggedWhole) {
  LogCapture capture;
  common::log("a::b", 9, L"signer: %s.", "CN=拓岚 publisher");
  auto messages = capture.messages("a::b");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], L"signer: CN=拓岚 publisher.");
}

TEST(LogFormat, VlogNamesTheEnclosingFunction) {
  LogCapture capture;
  logtest::Model::notify(3);
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].function, "logtest::Model::notify");
  EXPECT_EQ(lines[0].message, L"direct 3");
  EXPECT_EQ(lines[1].function, "logtest::Model::notify");  // a lambda logs as its function
  EXPECT_EQ(lines[1].message, L"from a lambda 3");
}

TEST(LogFormat, QualifiedFunctionNames) {
  EXPECT_STREQ(common::qualifiedFunctionName("void utility::ufile::makeDir(const wstring&)"),
               "utility::ufile::makeDir");
  EXPECT_STREQ(common::qualifiedFunctionName(
                   "std::map<int, int> BXDownloaderModel::_threadGetPlayerUrl(std::vector<int>)"),
               "BXDownloaderModel::_threadGetPlayerUrl");
  EXPECT_STREQ(common::qualifiedFunctionName("int main(int, char**)"), "main");
  EXPECT_STREQ(common::qualifiedFunctionName("void {anonymous}::helper()"), "helper");
}

class LogWriterTest : public ::testing::Test {
 protected:
  std::string path() const { return sandbox_.folder() + "/downloader.log"; }
  Sandbox sandbox_;
};

TEST_F(LogWriterTest, CreatesTheFileAndWritesLinesInOrder) {
  common::LogWriter writer(path());
  writer.append("one\r\n", 5);
  writer.append("two\r\n", 5);
  writer.flush();
  EXPECT_EQ(readHostFile(path()), "one\r\ntwo\r\n");
}

TEST_F(LogWriterTest, AnExistingLogIsAppendedToAndAUtf16LogIsEmptied) {
  struct Case {
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"earlier run\r\n", "earlier run\r\nnew\r\n"},
      {"x", "xnew\r\n"},
      {"\xFF", "\xFFnew\r\n"},
      {std::string("\xFE\xFF" "a\0", 4), std::string("\xFE\xFF" "a\0", 4) + "new\r\n"},
      {std::string("\xFF\xFE" "a\0b\0", 6), "new\r\n"},
      {"\xFF\xFE", "new\r\n"},
  };
  for (const auto& c : cases) {
    writeHostFile(path(), c.before);
    common::LogWriter writer(path());
    writer.append("new\r\n", 5);
    writer.flush();
    writer.stop();
    EXPECT_EQ(readHostFile(path()), c.after);
  }
}

TEST_F(LogWriterTest, WritesWithinHalfASecondWithoutBeingAsked) {
  common::LogWriter writer(path());
  writer.append("soon\r\n", 6);
  std::uint32_t start = platform::tickCount();
  while (readHostFile(path()).empty() && platform::tickCount() - start < 3000) {
    platform::sleepMs(20);
  }
  EXPECT_EQ(readHostFile(path()), "soon\r\n");
  EXPECT_LT(platform::tickCount() - start, 1500u);
}

TEST_F(LogWriterTest, LinesAreDroppedWhileMoreThanTheLimitIsPending) {
  common::LogWriter writer(path(), /*start=*/false);
  const std::string line = lineOf(1000, 'a');
  for (int i = 0; i < 11; ++i) writer.append(line.data(), line.size());
  EXPECT_EQ(writer.pendingBytes(), 11000u);  // the 11th found 10,000 pending: still taken
  writer.append("dropped\r\n", 9);
  EXPECT_EQ(writer.pendingBytes(), 11000u);

  writer.start();
  writer.flush();
  EXPECT_EQ(writer.pendingBytes(), 0u);
  writer.append("kept\r\n", 6);
  writer.flush();
  std::string file = readHostFile(path());
  EXPECT_EQ(file.size(), 11000u + 6u);
  EXPECT_EQ(file.find("dropped"), std::string::npos);
  EXPECT_EQ(file.substr(file.size() - 6), "kept\r\n");
}

TEST_F(LogWriterTest, ReachingFiftyMiBKeepsExactlyTheLastTwoMiB) {
  std::string before(common::kTrimAt - 100, '\0');
  for (size_t i = 0; i < before.size(); ++i) before[i] = static_cast<char>('a' + i % 23);
  writeHostFile(path(), before);

  common::LogWriter writer(path());
  const std::string line = lineOf(300, 'Z');
  writer.append(line.data(), line.size());
  writer.flush();
  std::string whole = before + line;
  std::string kept = whole.substr(whole.size() - common::kKeepAfterTrim);
  std::string after = readHostFile(path());
  ASSERT_EQ(after.size(), common::kKeepAfterTrim);
  EXPECT_TRUE(after == kept);

  writer.append("later\r\n", 7);
  writer.flush();
  EXPECT_TRUE(readHostFile(path()) == kept + "later\r\n");
}

TEST_F(LogWriterTest, AFileThatCannotBeOpenedDropsTheTextAndStaysBounded) {
  common::LogWriter writer(sandbox_.folder() + "/missing-folder/downloader.log");
  const std::string line = lineOf(5000, 'q');
  for (int i = 0; i < 10; ++i) {
    writer.append(line.data(), line.size());
    writer.flush();
  }
  EXPECT_EQ(writer.pendingBytes(), 0u);
}

}  // namespace

namespace {

// The start-up sequence in a process of its own, as the installer runs it.
TEST(LogProcess, OnlyLinesAfterInitLogReachTheFileAsUtf8) {
  Sandbox sandbox;
  std::string folder = sandbox.appDataHost() + "/downloader";
  writeHostFile(folder + "/downloader.log", "previous run\r\n");
  int code = utility_tests::runProgram(
      {utility_tests::binPath("utility-log-probe"),
       "C:\\Users\\tester\\AppData\\Roaming\\downloader\\downloader.log"},
      {"VIREO_PROFILE=" + sandbox.profilePath()});
  ASSERT_EQ(code, 0);

  std::string file = readHostFile(folder + "/downloader.log");
  EXPECT_EQ(file.rfind("previous run\r\n", 0), 0u);
  EXPECT_EQ(file.find("before"), std::string::npos);
  std::regex lines(
      "previous run\r\n"
      R"(\d\d-\d\d\t\d\d:\d\d:\d\d\.\d{3}\t\d{4,}\twWinMain\t\(\d+\):)" "\r\n\r\n start run\r\n"
      R"(\d\d-\d\d\t\d\d:\d\d:\d\d\.\d{3}\t\d{4,}\tmain\t\(\d+\):)"
      "downloader start\\. version is : 24\\.12\\.26 \\*\\*\\*\\*\r\n"
      R"(\d\d-\d\d\t\d\d:\d\d:\d\d\.\d{3}\t\d{4,}\tprobe\t\(4\):)" "\xE4\xB8\xAD\xE6\x96\x87 7\r\n");
  EXPECT_TRUE(std::regex_match(file, lines)) << file;
  EXPECT_FALSE(vireo::testing::hostFileExists(folder + "/downloader.log.second"));
}

}  // namespace
