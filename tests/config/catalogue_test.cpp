// The edition catalogue, the service addresses and the installer path.
#include <gtest/gtest.h>

#include "config/config_imp.h"
#include "config/services.h"
#include "platform/machine_profile.h"
#include "support/sandbox.h"

namespace {

using vireo::testing::Sandbox;

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config().edition = 3;
    config().packagePath.clear();
  }
  void TearDown() override {
    SetUp();
    platform::installMachineProfile({});
  }
  static ConfigImp& config() { return *ConfigImp::getInstance(); }
};

TEST_F(CatalogueTest, EveryEditionHasItsRow) {
  struct Row {
    int edition;
    const wchar_t *name, *subDir, *installer, *key, *shortcut;
  } rows[] = {
      {0, L"Vireo3", L"tallis\\Vireo3\\", L"/download/release/zkinst3.0.exe",
       L"Software\\Halvard2\\varedori", L""},
      {1, L"Vireo4", L"tallis\\Vireo4\\", L"/download/release/zkinst4.0.exe",
       L"Software\\tallis\\Vireo", L"拓岚模拟器.lnk"},
      {2, L"Vireo64", L"tallis\\Vireo64\\", L"/download/release/zkinst64.exe",
       L"Software\\tallis\\Vireo64", L"拓岚模拟器64.lnk"},
      {3, L"Vireo9", L"tallis\\Vireo9\\", L"/download/release/zkinst9.0.exe",
       L"Software\\tallis\\Vireo9", L"拓岚模拟器9.lnk"},
      {4, L"Vireo4", L"tallis\\Vireo4\\", L"/download/release/zkinst5.0.exe",
       L"Software\\tallis\\Vireo", L"拓岚模拟器5.lnk"},
      {5, L"Vireo64", L"tallis\\Vireo64\\", L"/download/release/zkinst5(64).exe",
       L"Software\\tallis\\Vireo64", L"拓岚模拟器64.lnk"},
      // Outside 1 to 5: row 0 in every column.
      {7, L"Vireo3", L"tallis\\Vireo3\\", L"/download/release/zkinst3.0.exe",
       L"Software\\Halvard2\\varedori", L""},
      {-1, L"Vireo3", L"tallis\\Vireo3\\", L"/download/release/zkinst3.0.exe",
       L"Software\\Halvard2\\varedori", L""},
  };
  for (const auto& r : rows) {
    config().edition = r.edition;
    SCOPED_TRACE(r.edition);
    EXPECT_EQ(config().getPlayerName(), r.name);
    EXPECT_EQ(config().getInstallSubDir(), r.subDir);
    EXPECT_EQ(config().getDefaultInstallerUrl(), std::wstring(L"https://cdn.vireo.example") + r.installer);
    EXPECT_EQ(config().getRegistryKey(), r.key);
    EXPECT_EQ(config().getShortcutName(), r.shortcut);
    // The same for every edition.
    EXPECT_EQ(config().getBrandName(), L"Vireo");
    EXPECT_EQ(config().getLanguage(), L"cn");
    EXPECT_EQ(config().getLanguageFile(), L"language\\downloader_cn.xml");
    EXPECT_EQ(config().getPlayerUrlAddress(), L"https://cdn.vireo.example/zk/tallisex");
    EXPECT_EQ(config().getHomePage(), L"http://www.vireo.example/");
  }
}

TEST_F(CatalogueTest, GameConfigurationAddress) {
  EXPECT_EQ(config().getOpenidConfigUrl(L"20391", L"com.example.game"),
            L"https://api.vireo.example/zud/properties?openid=20391&packageName=com.example.game");
  EXPECT_EQ(config().getOpenidConfigUrl(L"20391", L""),
            L"https://api.vireo.example/zud/properties?openid=20391");
  // A value can never add query keys or cut the address.
  EXPECT_EQ(config().getOpenidConfigUrl(L"1", L"a&b=c #d/游"),
            L"https://api.vireo.example/zud/properties?openid=1&packageName=a%26b%3Dc%20%23d%2F%E6%B8%B8");
}

TEST_F(CatalogueTest, ProfileServicesReplaceTheDefaultsOneByOne) {
  Sandbox box({{'C', ""}}, R"("services": {"cdn": "https://127.0.0.1:8443/", "web": "https://127.0.0.1:9443"})");
  box.installInProcess();
  config::ServiceAddresses s = config::serviceAddresses();
  EXPECT_EQ(s.cdn, L"https://127.0.0.1:8443");
  EXPECT_EQ(s.web, L"https://127.0.0.1:9443");
  EXPECT_EQ(s.api, config::kDefaultApi);
  EXPECT_EQ(s.analytics, config::kDefaultAnalytics);
  EXPECT_EQ(s.chat, config::kDefaultChat);

  config().edition = 2;
  EXPECT_EQ(config().getDefaultInstallerUrl(), L"https://127.0.0.1:8443/download/release/zkinst64.exe");
  EXPECT_EQ(config().getPlayerUrlAddress(), L"https://127.0.0.1:8443/zk/tallisex");
  EXPECT_EQ(config().getHomePage(), L"https://127.0.0.1:9443/") << "the given scheme is kept";

  box.rewriteProfile(R"("services": {"api": "http://127.0.0.1:8080", "analytics": "http://127.0.0.1:8081",
                        "chat": "http://127.0.0.1:8082/chat?x=1"})");
  box.installInProcess();
  s = config::serviceAddresses();
  EXPECT_EQ(s.cdn, config::kDefaultCdn);
  EXPECT_EQ(s.analytics, L"http://127.0.0.1:8081");
  EXPECT_EQ(s.chat, L"http://127.0.0.1:8082/chat?x=1");
  EXPECT_EQ(config().getOpenidConfigUrl(L"55", L""), L"http://127.0.0.1:8080/zud/properties?openid=55");
}

TEST_F(CatalogueTest, DefaultsNameNoRealHost) {
  config::ServiceAddresses s = config::serviceAddresses();
  for (const auto& base : {s.cdn, s.api, s.analytics, s.web}) {
    EXPECT_NE(base.find(L".example"), std::wstring::npos) << base;
    EXPECT_NE(base.back(), L'/');
  }
  EXPECT_EQ(s.cdn.rfind(L"https://", 0), 0u);
  EXPECT_EQ(s.web.rfind(L"http://", 0), 0u);
  EXPECT_EQ(s.chat.rfind(L"https://wpa.qq.com/", 0), 0u);
}

TEST_F(CatalogueTest, DownloadFilePath) {
  Sandbox box({{'C', ""}, {'D', ""}});
  box.installInProcess();
  vireo::testing::writeHostFile(box.driveRoot('D') + "/cache/found.exe", "MZ");

  struct Case {
    const wchar_t *packagePath, *folder, *tag, *expected;
  } cases[] = {
      {L"", L"D:\\cache", L"9.1.2", L"D:\\cache\\zkinst_9.1.2.exe"},
      {L"", L"D:\\cache\\", L"9.1.2", L"D:\\cache\\zkinst_9.1.2.exe"},
      {L"", L"D:\\cache/", L"9", L"D:\\cache/\\zkinst_9.exe"},
      {L"", L"", L"", L"\\zkinst_.exe"},
      {L"D:\\cache\\found.exe", L"D:\\other", L"9.1.2", L"D:\\cache\\found.exe"},
      {L"D:\\cache\\deleted.exe", L"D:\\cache", L"9.1.2", L"D:\\cache\\zkinst_9.1.2.exe"},
  };
  for (const auto& c : cases) {
    config().packagePath = c.packagePath;
    EXPECT_EQ(config().getDownloadFilePath(c.folder, c.tag), c.expected) << c.packagePath;
  }
}

}  // namespace
