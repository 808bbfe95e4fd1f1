// The launch parameters read from the file name and the command line.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/launch/launch_parameters.h"

namespace {

using launch::readCommandLineParameters;
using launch::readFileNameParameters;

struct FileNameCase {
  std::wstring path;
  std::optional<int> edition;
  std::wstring package, openid, gameId;
  std::wstring typeLine;  // empty: no "type:" line expected
};

std::wstring nameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) slash = path.find_last_of(L'/');
  std::wstring name = slash == std::wstring::npos ? std::wstring() : path.substr(slash + 1);
  size_t dot = name.find_last_of(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

TEST(FileNameTest, PiecesRulesAndLogLines) {
  const std::wstring dir = L"C:\\Users\\tester\\Downloads\\";
  const FileNameCase cases[] = {
      {dir + L"vireo9_com.example.game_20391_1.exe", 3, L"com.example.game", L"20391", L"",
       L"type: vireo9, package:com.example.game, openID:20391 gameID "},
      {dir + L"vireo64_com.example.game_20391_55_x.exe", 2, L"com.example.game", L"20391", L"55",
       L"type: vireo64, package:com.example.game, openID:20391 gameID 55"},
      {dir + L"VIREO5(64)_pkg.abc_123_7_z.exe", 5, L"pkg.abc", L"123", L"7",
       L"type: VIREO5(64), package:pkg.abc, openID:123 gameID 7"},
      {dir + L"vireo9_abc_12_1.exe", 3, L"", L"", L"", L"type: vireo9, package:abc, openID:12 gameID "},
      {dir + L"vireo9_com.example.game_12a45_1.exe", 3, L"com.example.game", L"", L"",
       L"type: vireo9, package:com.example.game, openID:12a45 gameID "},
      {dir + L"installer.exe", std::nullopt, L"", L"", L"", L""},
      {dir + L"vireo3_a.b.c_123.exe", std::nullopt, L"", L"", L"", L""},  // three pieces
      {dir + L"VIREO64_abcd_999_1.exe", 2, L"abcd", L"999", L"", L"type: VIREO64, package:abcd, openID:999 gameID "},
      {dir + L"vireo 64_abcd_999_1.exe", std::nullopt, L"abcd", L"999", L"",
       L"type: vireo 64, package:abcd, openID:999 gameID "},
      {dir + L"vireo64x_abcd_999_1.exe", std::nullopt, L"abcd", L"999", L"",
       L"type: vireo64x, package:abcd, openID:999 gameID "},
      {dir + L"vireo4_abcd_999_1_2_3.exe", 1, L"abcd", L"999", L"1",
       L"type: vireo4, package:abcd, openID:999 gameID 1"},
      {dir + L"vireo5_abcd_999_x1_.exe", 4, L"abcd", L"999", L"", L"type: vireo5, package:abcd, openID:999 gameID x1"},
      {dir + L"vireo3_abcd_999_.exe", 0, L"abcd", L"999", L"", L"type: vireo3, package:abcd, openID:999 gameID "},
      // Only U+0020 is trimmed.
      {dir + L"  vireo9 _ abcd _ 999 _ 1.exe", 3, L"abcd", L"999", L"", L"type: vireo9, package:abcd, openID:999 gameID "},
      {dir + L"vireo9\t_abcd_ 999\t_1.exe", std::nullopt, L"abcd", L"", L"",
       L"type: vireo9\t, package:abcd, openID:999\t gameID "},
      // The name is cut at its last full stop only.
      {dir + L"vireo9_a.b.c_123_1.x.exe", 3, L"a.b.c", L"123", L"", L"type: vireo9, package:a.b.c, openID:123 gameID "},
      {dir + L"vireo9_abcd_123_4_5", 3, L"abcd", L"123", L"4", L"type: vireo9, package:abcd, openID:123 gameID 4"},
      // Without a backslash the last slash separates; with neither, no name.
      {L"/opt/vireo/vireo9_abcd_123_1.exe", 3, L"abcd", L"123", L"", L"type: vireo9, package:abcd, openID:123 gameID "},
      {L"C:\\x/y\\vireo64_abcd_123_1.exe", 2, L"abcd", L"123", L"", L"type: vireo64, package:abcd, openID:123 gameID "},
      {L"vireo9_abcd_123_1.exe", std::nullopt, L"", L"", L"", L""},
      {L"", std::nullopt, L"", L"", L"", L""},
      {dir + L"游戏_游戏包名_123_1.exe", std::nullopt, L"游戏包名", L"123", L"", L"type: 游戏, package:游戏包名, openID:123 gameID "},
      // Hostile shapes.
      {dir + L"____.exe", std::nullopt, L"", L"", L"", L"type: , package:, openID: gameID "},
      {dir + L"_.exe", std::nullopt, L"", L"", L"", L""},
      {dir + L".exe", std::nullopt, L"", L"", L"", L""},
      {dir, std::nullopt, L"", L"", L"", L""},
      {L"\\\\\\", std::nullopt, L"", L"", L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "path " << testing::PrintToString(c.path));
    launch::FileNameParameters p = readFileNameParameters(c.path);
    EXPECT_EQ(p.edition, c.edition);
    EXPECT_EQ(p.packageName, c.package);
    EXPECT_EQ(p.openid, c.openid);
    EXPECT_EQ(p.gameId, c.gameId);

    std::vector<std::wstring> lines = {L"BXDownloaderModel::exe filename= " + nameOf(c.path)};
    if (!c.typeLine.empty()) lines.push_back(c.typeLine);
    lines.push_back(L"openid is " + c.openid + L", package is " + c.package);
    EXPECT_EQ(p.logLines, lines);
  }
}

TEST(FileNameTest, HugeAndJunkNamesNeverFail) {
  std::wstring longPiece(100000, L'a');
  auto huge = readFileNameParameters(L"C:\\vireo9_" + longPiece + L"_" + std::wstring(5000, L'7') + L"_1.exe");
  EXPECT_EQ(huge.packageName, longPiece);
  EXPECT_EQ(huge.openid, std::wstring(5000, L'7'));

  auto underscores = readFileNameParameters(L"C:\\" + std::wstring(20000, L'_') + L".exe");
  EXPECT_FALSE(underscores.edition);
  EXPECT_EQ(underscores.logLines.size(), 3u);

  std::mt19937 g(1);
  for (int round = 0; round < 200; ++round) {
    std::wstring junk;
    size_t length = g() % 600;
    for (size_t i = 0; i < length; ++i) {
      // Any character but NUL, separators and dots more often than chance.
      static const wchar_t common[] = L"_._\\/ \"=|a9";
      junk += g() % 4 ? static_cast<wchar_t>(1 + g() % 0x10FFFF) : common[g() % 11];
    }
    auto p = readFileNameParameters(junk);
    EXPECT_GE(p.logLines.size(), 2u);
    EXPECT_TRUE(p.openid.empty() || p.openid.size() > 2);
  }
}

struct CommandLineCase {
  const wchar_t* text;  // null: no command line
  bool item;
  std::wstring apkUrl, appName, package;
  std::wstring line;  // empty: no log line
};

TEST(CommandLineTest, KeysQuotesAndTheGameItem) {
  const CommandLineCase cases[] = {
      {nullptr, false, L"", L"", L"", L""},
      {L"", false, L"", L"", L"", L""},
      {L"\"name=Game X|package=com.example.x|apkurl=https://h.example/g.apk\"", true,
       L"https://h.example/g.apk", L"Game X", L"com.example.x",
       L"cmdline is Game X, com.example.x, https://h.example/g.apk"},
      {L"APKURL = a | Name = b", true, L"a", L"b", L"", L"cmdline is b, , a"},
      {L"package=com.example.x", false, L"", L"", L"", L"cmdline is , com.example.x, "},
      {L"apkurl=|name=n", false, L"", L"", L"", L"cmdline is n, , "},
      {L"apkurl=first|apkurl=second", true, L"second", L"", L"", L"cmdline is , , second"},
      {L"apkurl=https://h.example/a?x=1&y==2", true, L"https://h.example/a?x=1&y==2", L"", L"",
       L"cmdline is , , https://h.example/a?x=1&y==2"},
      {L"\"apkurl=abc", true, L"abc", L"", L"", L"cmdline is , , abc"},
      {L"apkurl=abc\"", true, L"abc", L"", L"", L"cmdline is , , abc"},
      // Five characters or fewer keep their quotes.
      {L"\"a=b\"", false, L"", L"", L"", L"cmdline is , , "},
      {L"\"name=x\"", false, L"", L"", L"", L"cmdline is x, , "},
      {L"no keys at all", false, L"", L"", L"", L""},
      {L"=value|  = x", false, L"", L"", L"", L""},
      {L"|||", false, L"", L"", L"", L""},
      {L"\"", false, L"", L"", L"", L""},
      {L"\"\"", false, L"", L"", L"", L""},
      {L"\"\"\"\"\"\"", false, L"", L"", L"", L""},
      {L"\"=\"", false, L"", L"", L"", L"cmdline is , , "},  // the key is a quote
      {L"\"apkurl=\"\"\"", true, L"\"\"", L"", L"", L"cmdline is , , \"\""},
      {L"name=\tx\t|apkurl=\ty", true, L"\ty", L"\tx\t", L"", L"cmdline is \tx\t, , \ty"},
      {L"APKurl=u|PACKAGE=p|NAME=游戏", true, L"u", L"游戏", L"p", L"cmdline is 游戏, p, u"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "command line " << testing::PrintToString(c.text ? c.text : L"(null)"));
    launch::CommandLineParameters p = readCommandLineParameters(c.text);
    ASSERT_EQ(p.gameItem.has_value(), c.item);
    if (c.item) {
      EXPECT_EQ(p.gameItem->apkUrl, c.apkUrl);
      EXPECT_EQ(p.gameItem->appName, c.appName);
      EXPECT_EQ(p.gameItem->packageName, c.package);
    }
    std::vector<std::wstring> lines;
    if (!c.line.empty()) lines.push_back(c.line);
    EXPECT_EQ(p.logLines, lines);
  }
}

TEST(CommandLineTest, HugeAndJunkTextsNeverFail) {
  std::wstring huge = L"\"apkurl=" + std::wstring(1 << 20, L'u') + L"|" + std::wstring(1 << 16, L'|') + L"\"";
  auto p = readCommandLineParameters(huge.c_str());
  ASSERT_TRUE(p.gameItem);
  EXPECT_EQ(p.gameItem->apkUrl.size(), 1u << 20);

  std::mt19937 g(2);
  for (int round = 0; round < 200; ++round) {
    std::wstring junk;
    size_t length = g() % 400;
    for (size_t i = 0; i < length; ++i) {
      static const wchar_t common[] = L"|=\" apkurl";
      junk += g() % 3 ? static_cast<wchar_t>(1 + g() % 0x10FFFF) : common[g() % 10];
    }
    auto q = readCommandLineParameters(junk.c_str());
    EXPECT_LE(q.logLines.size(), 1u);
    if (q.gameItem) EXPECT_FALSE(q.gameItem->apkUrl.empty());
  }
}

}  // namespace
