// Customising the installed emulator: pictures, the game icon, the
// "data.ini" settings and the Run value, against the stand-in back end.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/installer_contract.h"
#include "gameconfig_fixture.h"
#include "platform/registry_store.h"
#include "png_pictures.h"
#include "ui/image/icon_file.h"

namespace gameconfig_tests {
namespace {

constexpr const char* kFunction = "BXDownloaderModel::applyGameConfig";
const std::string kTitleUtf8 = "\xE7\x8E\x8B\xE8\x80\x85\xE8\x8D\xA3\xE8\x80\x80";  // 王者荣耀

class GameCustomisationTest : public GameConfigTest {
 protected:
  void SetUp() override {
    serve();
    ASSERT_EQ(platform::registry::createKey(HKEY_CURRENT_USER, contract::kRunKey), ERROR_SUCCESS);
    ASSERT_EQ(platform::registry::writeValue(HKEY_CURRENT_USER, contract::kRunKey, L"REVode", L"x"),
              ERROR_SUCCESS);
    ASSERT_EQ(platform::registry::writeValue(HKEY_CURRENT_USER, contract::kRunKey, L"Other", L"y"),
              ERROR_SUCCESS);
  }

  bool runValueLeft(const wchar_t* name) const {
    std::wstring value;
    return platform::registry::readValue(HKEY_CURRENT_USER, contract::kRunKey, name, value) ==
           ERROR_SUCCESS;
  }

  // A configuration without pictures or settings of its own.
  GameConfiguration& quietConfiguration() {
    GameConfiguration& c = model().gameConfig;
    c.adSupport = true;
    c.cleanMode = false;
    return c;
  }

};

TEST_F(GameCustomisationTest, PicturesIconAndSettingsInTheirOrder) {
  const std::string icon = makePng(64, 64, PngKind::Palette);
  serveFile("/p/h.jpg", "landscape");
  serveFile("/p/v.jpg", "portrait");
  serveFile("/p/wall.jpg", "wallpaper");
  serveFile("/p/game.png", icon);
  GameConfiguration& c = model().gameConfig;
  c.loadingImageH = servedUrl("/p/h.jpg");
  c.loadingImageV = servedUrl("/p/v.jpg");
  c.wallpaperUrl = servedUrl("/p/wall.jpg");
  c.shortcutIconUrl = servedUrl("/p/game.png");
  c.shortcutName = L"王者";
  c.startupTitle = L"王者荣耀";
  c.runApp = L"com.example.game";
  c.adSupport = false;
  c.cleanMode = true;

  model().applyGameConfig();

  EXPECT_EQ(readHostFile(dataHost("launch_1920.jpg")), "landscape");
  EXPECT_EQ(readHostFile(dataHost("launch_1080.jpg")), "portrait");
  EXPECT_EQ(readHostFile(dataHost("wallpaper.jpg")), "wallpaper");
  EXPECT_EQ(readHostFile(dataHost("王者.png")), icon);
  std::string expectedIcon;
  ASSERT_TRUE(image::iconFromPng(icon, expectedIcon));
  EXPECT_EQ(readHostFile(dataHost("王者.ico")), expectedIcon);
  EXPECT_EQ(readHostFile(dataHost("data.ini")),
            "[setting]\r\nadshow=0\r\ncleanmodel=1\r\ntitle=" + kTitleUtf8 +
                "\r\nrunapp=com.example.game\r\n");
  EXPECT_FALSE(runValueLeft(L"REVode"));
  EXPECT_TRUE(runValueLeft(L"Other"));
  EXPECT_EQ(log_.messages(kFunction),
            (std::vector<std::wstring>{L"start save config",
                                       L"download game icon :D:\\tallis\\Vireo9\\data\\王者.png"}));
}

// "adshow" and "cleanmodel" each under its own condition; the Run value goes
// when either turns something off.
TEST_F(GameCustomisationTest, AdvertisingAndCleanModeSettings) {
  struct Case {
    bool adSupport, cleanMode;
    const char* ini;  // nullptr: no file
    bool runValueDeleted;
  };
  const Case cases[] = {
      {true, false, nullptr, false},
      {false, false, "[setting]\r\nadshow=0\r\n", true},
      {true, true, "[setting]\r\ncleanmodel=1\r\n", true},
      {false, true, "[setting]\r\nadshow=0\r\ncleanmodel=1\r\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.adSupport) + std::to_string(c.cleanMode));
    std::filesystem::remove_all(dataHost());
    ASSERT_EQ(platform::registry::writeValue(HKEY_CURRENT_USER, contract::kRunKey, L"REVode", L"x"),
              ERROR_SUCCESS);
    GameConfiguration& config = freshModel().gameConfig;
    config.adSupport = c.adSupport;
    config.cleanMode = c.cleanMode;
    model().applyGameConfig();
    EXPECT_TRUE(std::filesystem::is_directory(dataHost()));
    if (c.ini) {
      EXPECT_EQ(readHostFile(dataHost("data.ini")), c.ini);
    } else {
      EXPECT_FALSE(hostFileExists(dataHost("data.ini")));
    }
    EXPECT_EQ(runValueLeft(L"REVode"), !c.runValueDeleted);
    EXPECT_TRUE(runValueLeft(L"Other"));
  }
}

TEST_F(GameCustomisationTest, SettingsJoinAnIniTheEmulatorAlreadyHas) {
  writeHostFile(dataHost("data.ini"), "[Setting]\r\nAdShow=1\r\nvolume=80\r\n[other]\r\nx=1\r\n");
  GameConfiguration& c = model().gameConfig;
  c.adSupport = false;
  c.runApp = L"com.example.game";
  model().applyGameConfig();
  EXPECT_EQ(readHostFile(dataHost("data.ini")),
            "[Setting]\r\nAdShow=0\r\nvolume=80\r\nrunapp=com.example.game\r\n[other]\r\nx=1\r\n");
}

TEST_F(GameCustomisationTest, AnIcoIconIsStoredAsItCame) {
  serveFile("/p/game.ico", "icon file bytes");
  GameConfiguration& c = quietConfiguration();
  c.shortcutIconUrl = servedUrl("/p/game.ico");
  c.shortcutName = L"Game";
  model().applyGameConfig();
  EXPECT_EQ(readHostFile(dataHost("Game.ico")), "icon file bytes");
  EXPECT_FALSE(hostFileExists(dataHost("Game.png")));
}

// Two attempts with the second stack, no libcurl fall-back.
TEST_F(GameCustomisationTest, TheIconIsTriedTwice) {
  struct Case {
    const char* what;
    const char* fault;  // nullptr: none
    std::size_t requests;
    bool stored;
  };
  const Case cases[] = {
      {"first attempt", nullptr, 1, true},
      {"second attempt", "/p/game.png:status=500,once", 2, true},
      {"both fail", "/p/game.png:status=503", 2, false},
      {"missing", "/p/game.png:status=404", 2, false},
  };
  const std::string icon = makePng(32, 32, PngKind::Rgba8);
  serveFile("/p/game.png", icon);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dataHost());
    ASSERT_TRUE(backend_->clearFaults());
    if (c.fault) {
      ASSERT_TRUE(backend_->addFault(c.fault));
    }
    const std::size_t before = requestedPaths().size();
    GameConfiguration& config = quietConfiguration();
    config.shortcutIconUrl = servedUrl("/p/game.png");
    config.shortcutName = L"Game";
    model().applyGameConfig();
    EXPECT_EQ(requestedPathsAfter(before + c.requests).size() - before, c.requests);
    EXPECT_EQ(hostFileExists(dataHost("Game.png")) && hostFileExists(dataHost("Game.ico")),
              c.stored);
    EXPECT_FALSE(hostFileExists(dataHost("Game.ico")) && !c.stored);
  }
}

TEST_F(GameCustomisationTest, IconsThatAreNotUsed) {
  GameConfiguration& c = quietConfiguration();
  c.shortcutName = L"Game";
  c.shortcutIconUrl = L"http://a/b";  // ten characters: no address
  model().applyGameConfig();
  EXPECT_EQ(log_.messages(kFunction), (std::vector<std::wstring>{L"start save config"}));

  // A name that would leave the data folder.
  serveFile("/p/game.png", makePng(16, 16, PngKind::Rgba8));
  c.shortcutIconUrl = servedUrl("/p/game.png");
  for (const wchar_t* name : {L"..\\..\\evil", L"C:evil", L"a/b", L"..", L""}) {
    c.shortcutName = name;
    model().applyGameConfig();
  }
  EXPECT_TRUE(requestedPaths().empty());
  for (const auto& entry : std::filesystem::recursive_directory_iterator(sandbox_.folder())) {
    const std::string path = entry.path().string();
    EXPECT_EQ(entry.path().filename().string().find("evil"), std::string::npos) << path;
    if (entry.path().extension() == ".png") {
      EXPECT_EQ(path.rfind(servedRoot(), 0), 0u) << path;
    }
  }

  // A picture that is no PNG stays as it came, without an icon.
  serveFile("/p/broken.png", "<html>not a picture</html>");
  c.shortcutName = L"Game";
  c.shortcutIconUrl = servedUrl("/p/broken.png");
  model().applyGameConfig();
  EXPECT_TRUE(hostFileExists(dataHost("Game.png")));
  EXPECT_FALSE(hostFileExists(dataHost("Game.ico")));
}

}  // namespace
}  // namespace gameconfig_tests
