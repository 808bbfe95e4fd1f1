#include "utility/ustring.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "scoped_sandbox.h"

namespace us = utility::ustring;

namespace {

using Pieces = std::vector<std::wstring>;

TEST(UstringConversion, LengthRulesOfTheWindowsConverters) {
  const char text[] = "ab\0cd";  // an embedded zero
  EXPECT_EQ(us::toWide(nullptr, -1, CP_UTF8), L"");
  EXPECT_EQ(us::toWide(text, -2, CP_UTF8), L"");
  EXPECT_EQ(us::toWide(text, -1, CP_UTF8), L"ab");  // zero-terminated, terminator dropped
  EXPECT_EQ(us::toWide(text, 5, CP_UTF8), std::wstring(L"ab\0cd", 5));
  EXPECT_EQ(us::toWide(text, 0, CP_UTF8), L"");

  const wchar_t wide[] = L"xy\0z";
  EXPECT_EQ(us::toNarrow(nullptr, -1, CP_UTF8), "");
  EXPECT_EQ(us::toNarrow(wide, -7, CP_UTF8), "");
  EXPECT_EQ(us::toNarrow(wide, -1, CP_UTF8), "xy");
  EXPECT_EQ(us::toNarrow(wide, 4, CP_UTF8), std::string("xy\0z", 4));
}

TEST(UstringConversion, AnsiIsGbkAndUtf8RoundTrips) {
  const std::wstring chinese = L"中文路径";
  const std::string gbk = "\xD6\xD0\xCE\xC4\xC2\xB7\xBE\xB6";
  const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87\xE8\xB7\xAF\xE5\xBE\x84";
  EXPECT_EQ(us::wideToAnsi(chinese), gbk);
  EXPECT_EQ(us::ansiToWide(gbk), chinese);
  EXPECT_EQ(us::wideToUtf8(chinese), utf8);
  EXPECT_EQ(us::utf8ToWide(utf8), chinese);
  EXPECT_EQ(us::ansiToUtf8(gbk), utf8);
  EXPECT_EQ(us::ansiToUtf8(""), "");
  // Characters GBK lacks become '?', as WideCharToMultiByte's default character.
  EXPECT_EQ(us::wideToAnsi(L"a\u0e01\u0627b"), "a??b");
}

TEST(UstringConversion, TheProfileCanNameAnotherAnsiCodePage) {
  utility_tests::ScopedSandbox sandbox("\"ansiCodePage\": 1252");
  EXPECT_EQ(us::wideToAnsi(L"caf\u00e9"), "caf\xE9");
  EXPECT_EQ(us::ansiToWide("caf\xE9"), L"caf\u00e9");
}

TEST(UstringText, SpacesTrimLowerSuffix) {
  EXPECT_EQ(us::removeSpaces(L" a b\tc  d "), L"ab\tcd");  // only U+0020
  EXPECT_EQ(us::trim(L"  a b  "), L"a b");
  EXPECT_EQ(us::trim(L"\ta \t"), L"\ta \t");
  EXPECT_EQ(us::trim(L"    "), L"");
  EXPECT_EQ(us::trim(std::string("  x ")), "x");

  std::wstring mixed = L"ABC-xyz-ÄÖ-Ω-Z";
  us::toLower(mixed);
  EXPECT_EQ(mixed, L"abc-xyz-ÄÖ-Ω-z");  // A to Z only

  EXPECT_TRUE(us::endsWith(L"setup.exe", L".exe"));
  EXPECT_FALSE(us::endsWith(L"setup.EXE", L".exe"));
  EXPECT_TRUE(us::endsWith(L"x", L""));
  EXPECT_FALSE(us::endsWith(L"xe", L".exe"));

  EXPECT_TRUE(us::isDigits(L""));
  EXPECT_TRUE(us::isDigits(L"0123456789"));
  EXPECT_FALSE(us::isDigits(L"12a"));
  EXPECT_FALSE(us::isDigits(L"-1"));
  EXPECT_FALSE(us::isDigits(L"١٢"));  // other scripts' digits are not decimal digits here
}

TEST(UstringText, PathHasPrefix) {
  struct Case {
    const wchar_t* prefix;
    const wchar_t* path;
    bool expected;
  };
  const Case cases[] = {
      {L"C:\\x", L"C:/x/y", true},
      {L"C:\\x\\y", L"C:\\x", false},
      {L"C:\\x\\", L"C:\\\\x\\y", true},
      {L"c:\\x", L"C:\\x", false},  // case-sensitive
      {L"C:\\x", L"C:\\xy", true},  // a character match, not a component match
      {L"", L"anything", true},
      {L"\\\\", L"", true},
      {L"C:", L"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(us::pathHasPrefix(c.prefix, c.path), c.expected) << c.prefix << " / " << c.path;
  }
}

TEST(UstringText, Split) {
  struct Case {
    const wchar_t* text;
    const wchar_t* delimiter;
    Pieces expected;
  };
  const std::vector<Case> cases = {
      {L"a; b;", L";", {L"a", L"b", L""}},
      {L" a ;; b ", L";", {L"a", L"", L"b"}},
      {L"no delimiter", L";", {L"no delimiter"}},
      {L"k=>v=>w", L"=>", {L"k", L"v", L"w"}},
      {L"", L";", {}},
      {L"a;b", L"", {}},
  };
  for (const auto& c : cases) {
    Pieces out;
    us::split(out, c.text, c.delimiter);
    EXPECT_EQ(out, c.expected) << c.text;
  }
  Pieces kept = {L"earlier"};
  us::split(kept, L"x", L";");
  EXPECT_EQ(kept, (Pieces{L"earlier", L"x"}));  // appends
}

TEST(UstringText, ParseKeyValuesAndFindValue) {
  std::map<std::wstring, std::wstring> map;
  us::parseKeyValues(map,
                     {L" Name = Vireo ", L"no separator", L" = no key", L"URL=http://x/?a=b",
                      L"name=second", L"ÄBC=kept"},
                     L"=");
  EXPECT_EQ(map.size(), 3u);
  EXPECT_EQ(map[L"name"], L"second");           // a later line overwrites
  EXPECT_EQ(map[L"url"], L"http://x/?a=b");     // split at the first separator only
  EXPECT_EQ(map.count(L"Äbc"), 1u);             // lower-casing is A to Z only

  std::wstring value = L"untouched";
  EXPECT_TRUE(us::findValue(map, L"url", value));
  EXPECT_EQ(value, L"http://x/?a=b");
  value = L"untouched";
  EXPECT_FALSE(us::findValue(map, L"URL", value));
  EXPECT_EQ(value, L"untouched");
}

}  // namespace
