// Reading the configuration reply: fields, the game item, type rules, log
// lines, and hostile replies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gameconfig_fixture.h"

namespace gameconfig_tests {
namespace {

constexpr const char* kFunction = "BXDownloaderModel::_initAppInfoForCN";

class GameReplyTest : public GameConfigTest {};

TEST_F(GameReplyTest, APackageWithoutAddressOrGameIsForTheAppStore) {
  model()._initAppInfoForCN(R"({"data": {"packageName": "com.example.game"}})");
  ASSERT_EQ(model().gameItems.size(), 1u);
  const GameItem& item = model().gameItems[0];
  EXPECT_EQ(item.packageName, L"com.example.game");
  EXPECT_TRUE(item.fromAppStore);
  EXPECT_EQ(item.appName, L"app");
  EXPECT_EQ(item.gameId, L"");
  EXPECT_FALSE(item.isXapk);
  EXPECT_EQ(model().packageName, L"com.example.game");
  EXPECT_EQ(model().gameConfig.runApp, L"com.example.game");
  // No "blockAds": advertising is off.
  EXPECT_FALSE(model().gameConfig.adSupport);
  EXPECT_EQ(log_.messages(kFunction),
            (std::vector<std::wstring>{L"calc json", L"ad suport 0", L"bg: ", L"icon: "}));
}

TEST_F(GameReplyTest, EveryKeyOfAFullReply) {
  model()._initAppInfoForCN(R"({"code": 0, "data": {
      "packageName": "com.example.game", "installFileName": "王者",
      "installApkUrl": "https://h/game.apk", "playerLoadingBgV": "https://h/v.jpg",
      "playerLoadingBgH": "https://h/h.jpg", "startupTitle": "王者荣耀",
      "desktopGameIco": "https://h/icon.png", "desktopGamePng": "https://h/window.png",
      "desktopGameName": "王者", "installBg": "https://h/bg.jpg",
      "desktopWallpaper": "https://h/wall.jpg", "resolution": "1280x720",
      "gameid": 1024, "cleanmodel": 1, "blockAds": 0, "xapk": 1}})");
  ASSERT_EQ(model().gameItems.size(), 1u);
  const GameItem& item = model().gameItems[0];
  EXPECT_EQ(item.appName, L"王者");
  EXPECT_EQ(item.apkUrl, L"https://h/game.apk");
  EXPECT_FALSE(item.fromAppStore);
  EXPECT_EQ(item.resolution, L"1280x720");
  EXPECT_EQ(item.gameId, L"1024");
  EXPECT_TRUE(item.isXapk);
  EXPECT_EQ(item.iconUrl, L"");
  EXPECT_EQ(item.apkPath, L"");
  const GameConfiguration& c = model().gameConfig;
  EXPECT_EQ(c.loadingImageV, L"https://h/v.jpg");
  EXPECT_EQ(c.loadingImageH, L"https://h/h.jpg");
  EXPECT_EQ(c.startupTitle, L"王者荣耀");
  EXPECT_EQ(c.shortcutIconUrl, L"https://h/icon.png");
  EXPECT_EQ(c.windowIconUrl, L"https://h/window.png");
  EXPECT_EQ(c.shortcutName, L"王者");
  EXPECT_EQ(c.installBg, L"https://h/bg.jpg");
  EXPECT_EQ(c.wallpaperUrl, L"https://h/wall.jpg");
  EXPECT_TRUE(c.adSupport);
  EXPECT_TRUE(c.cleanMode);
  EXPECT_EQ(log_.messages(kFunction),
            (std::vector<std::wstring>{L"calc json", L"ad suport 1", L"bg: https://h/bg.jpg",
                                       L"icon: https://h/icon.png"}));
}

// A key of another type leaves its field as it was.
TEST_F(GameReplyTest, KeysOfTheWrongTypeChangeNothing) {
  GameConfiguration& c = model().gameConfig;
  c.startupTitle = L"kept";
  c.cleanMode = true;
  model().packageName = L"com.from.launch";
  model()._initAppInfoForCN(R"({"data": {"packageName": 7, "startupTitle": ["x"],
      "cleanmodel": "0", "blockAds": "0", "gameid": "1024", "installApkUrl": null}})");
  EXPECT_TRUE(model().gameItems.empty());  // no package name
  EXPECT_EQ(model().packageName, L"com.from.launch");
  EXPECT_EQ(c.startupTitle, L"kept");
  EXPECT_TRUE(c.cleanMode);
  EXPECT_FALSE(c.adSupport);  // "blockAds" is not a number equal to 0
}

TEST_F(GameReplyTest, NumbersOfEveryShape) {
  struct Case {
    const char* gameid;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {"1024", L"1024"},   {"-7", L"-7"},       {"1024.0", L"1024"},
      {"18446744073709551615", L"18446744073709551615"},
      {"1.5", L""},        {"1e300", L""},      {"true", L""},
  };
  for (const auto& c : cases) {
    model().gameItems.clear();
    model()._initAppInfoForCN(std::string(R"({"data": {"packageName": "p", "gameid": )") +
                              c.gameid + R"(, "blockAds": 0.0, "xapk": 0.5, "cleanmodel": 0}})");
    ASSERT_EQ(model().gameItems.size(), 1u) << c.gameid;
    EXPECT_EQ(model().gameItems[0].gameId, c.expected) << c.gameid;
    EXPECT_TRUE(model().gameConfig.adSupport);
    EXPECT_TRUE(model().gameItems[0].isXapk);
    EXPECT_FALSE(model().gameConfig.cleanMode);
  }
}

TEST_F(GameReplyTest, RepliesWithoutAnObjectOrDataChangeNothing) {
  struct Case {
    std::string reply;
    const wchar_t* logged;
  };
  const Case cases[] = {
      {"<html>502 Bad Gateway</html>", L"not object"},
      {"[1, 2]", L"not object"},
      {"\"data\"", L"not object"},
      {R"({"data": {"packageName": "p"})", L"not object"},  // cut short
      {std::string(200000, '['), L"not object"},             // nested beyond any stack
      {R"({"code": 0})", L"no data"},
      {R"({"data": "packageName"})", L"data is not object"},
      {R"({"data": [{"packageName": "p"}]})", L"data is not object"},
  };
  for (const auto& c : cases) {
    log_.clear();
    model()._initAppInfoForCN(c.reply);
    EXPECT_TRUE(model().gameItems.empty()) << c.reply.substr(0, 40);
    EXPECT_TRUE(model().gameConfig.adSupport) << c.reply.substr(0, 40);
    EXPECT_EQ(log_.messages(kFunction), (std::vector<std::wstring>{L"calc json", c.logged}))
        << c.reply.substr(0, 40);
  }
}

TEST_F(GameReplyTest, DeepAndHugeValuesInsideDataAreSurvived) {
  const std::string huge(4 * 1024 * 1024, 'x');
  std::string deep = std::string(100000, '[') + std::string(100000, ']');
  model()._initAppInfoForCN(R"({"data": {"packageName": "p", "nested": )" + deep +
                            R"(, "startupTitle": ")" + huge + R"("}})");
  ASSERT_EQ(model().gameItems.size(), 1u);
  EXPECT_EQ(model().gameConfig.startupTitle.size(), huge.size());
}

}  // namespace
}  // namespace gameconfig_tests
