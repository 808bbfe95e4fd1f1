#include <gtest/gtest.h>

#include "platform/code_pages.h"
#include "platform/command_line.h"

namespace {

using Args = std::vector<std::wstring>;

TEST(CommandLine, SplitsByTheWindowsRules) {
  struct Case {
    std::wstring line;
    Args args;
  } cases[] = {
      {L"\"C:\\Program Files\\a.exe\" -x", {L"C:\\Program Files\\a.exe", L"-x"}},
      {L"C:\\a\\b.exe  one\ttwo ", {L"C:\\a\\b.exe", L"one", L"two"}},
      {L"p \"a b\" c", {L"p", L"a b", L"c"}},
      {L"p a\\\\\\\"b", {L"p", L"a\\\"b"}},        // 3 backslashes + quote -> \"
      {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},      // 2 backslashes + quote -> \ and a toggle
      {L"p a\\b\\\\", {L"p", L"a\\b\\\\"}},        // backslashes not before a quote stay
      {L"p \"\"", {L"p", L""}},
      {L"p \"a\"\"b\"", {L"p", L"a\"b"}},
      {L"\"C:\\x\\p.exe\"arg", {L"C:\\x\\p.exe", L"arg"}},
      {L"\"C:\\a\\b\\\" x", {L"C:\\a\\b\\", L"x"}},  // the program name knows no escapes
      {L"-silence -downloader -openid= -path=\"D:\\tallis\\Vireo9\\\"",
       {L"-silence", L"-downloader", L"-openid=", L"-path=D:\\tallis\\Vireo9\""}},
      {L"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::splitCommandLine(c.line), c.args) << platform::wideToUtf8(c.line);
  }
}

TEST(CommandLine, QuotedArgumentsSplitBackUnchanged) {
  const Args samples = {L"plain", L"two words", L"", L"tab\there", L"quote\"inside",
                        L"ends\\", L"ends with space\\", L"\\\\server\\share", L"a\\\\\"b",
                        L"模拟器 游戏", L"\"", L"\\"};
  for (const auto& arg : samples) {
    std::wstring line = L"prog " + platform::quoteArgument(arg);
    Args split = platform::splitCommandLine(line);
    ASSERT_EQ(split.size(), 2u) << platform::wideToUtf8(line);
    EXPECT_EQ(split[1], arg) << platform::wideToUtf8(line);
  }
  EXPECT_EQ(platform::quoteArgument(L"plain"), L"plain");
}

TEST(CommandLine, ArgumentsAfterTheProgram) {
  EXPECT_EQ(platform::argumentsAfterProgram(L"\"C:\\a b\\x.exe\"   -a \"b c\""), L"-a \"b c\"");
  EXPECT_EQ(platform::argumentsAfterProgram(L"x.exe"), L"");
}

}  // namespace
