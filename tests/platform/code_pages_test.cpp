#include <gtest/gtest.h>

#include "platform/code_pages.h"
#include "platform/machine_profile.h"
#include "platform/win_constants.h"

namespace {

using platform::toNarrow;
using platform::toWide;

TEST(CodePages, Utf8BothWays) {
  const std::wstring text = L"Vireo 模拟器 ünï €😀";
  std::string bytes = toNarrow(text, CP_UTF8);
  EXPECT_EQ(bytes, "Vireo \xE6\xA8\xA1\xE6\x8B\x9F\xE5\x99\xA8 \xC3\xBCn\xC3\xAF \xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(toWide(bytes, CP_UTF8), text);
}

TEST(CodePages, BrokenUtf8BecomesReplacementCharacters) {
  struct Case {
    std::string bytes;
    std::wstring text;
  } cases[] = {
      {"a\xFF" "b", L"a\uFFFDb"},
      {"\xC3", L"\uFFFD"},                   // cut short
      {"\xC0\xAF", L"\uFFFD\uFFFD"},         // overlong
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},  // a surrogate
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(toWide(c.bytes, CP_UTF8), c.text);
  EXPECT_EQ(toNarrow(std::wstring(1, static_cast<wchar_t>(0xD800)), CP_UTF8), "\xEF\xBF\xBD");
}

TEST(CodePages, GbkBothWaysWithReplacements) {
  const std::wstring text = L"模拟器 abc";
  std::string gbk = toNarrow(text, 936);
  EXPECT_EQ(gbk, "\xC4\xA3\xC4\xE2\xC6\xF7 abc");
  EXPECT_EQ(toWide(gbk, 936), text);
  EXPECT_EQ(toNarrow(L"a😀b", 936), "a?b");  // unencodable -> '?'
  EXPECT_EQ(toWide("a\xC4", 936), L"a\uFFFD");  // cut short -> U+FFFD
  EXPECT_EQ(toWide("\xFF\xFF" "z", 936).back(), L'z');
}

TEST(CodePages, AnsiIsGbkUnlessTheProfileNamesAnother) {
  platform::installMachineProfile({});
  EXPECT_EQ(platform::ansiCodePage(), 936u);
  EXPECT_EQ(toNarrow(L"模", CP_ACP), "\xC4\xA3");
  platform::MachineProfile p;
  std::string error;
  ASSERT_TRUE(platform::parseMachineProfile(R"({"ansiCodePage": 1252})", "/x/p.json", p, error));
  platform::installMachineProfile(p);
  EXPECT_EQ(platform::ansiCodePage(), 1252u);
  EXPECT_EQ(toNarrow(L"é€", CP_ACP), "\xE9\x80");
  EXPECT_EQ(toNarrow(L"模", CP_ACP), "?");
  platform::installMachineProfile({});
  EXPECT_FALSE(platform::codePageSupported(12345));
}

TEST(CodePages, BoundedUtf8WriteNeverSplitsACharacter) {
  char out[5];
  EXPECT_EQ(platform::wideToUtf8Into(L"ab模", out, sizeof out), 5u);
  EXPECT_EQ(platform::wideToUtf8Into(L"abc模", out, sizeof out), 3u);
}

}  // namespace
