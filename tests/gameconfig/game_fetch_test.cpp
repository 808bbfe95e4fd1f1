// Fetching the configuration for the openid and the window's branding
// pictures, against the stand-in back end.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gameconfig_fixture.h"

namespace gameconfig_tests {
namespace {

constexpr const char* kFunction = "BXDownloaderModel::_getPackageByOpenID";

class GameFetchTest : public GameConfigTest {
 protected:
  void SetUp() override { serve(); }
};

TEST_F(GameFetchTest, OnlyLongOpenidsAndTheTestOpenidFetch) {
  serveReply("12345", R"({"data": {"packageName": "com.example.game"}})");
  serveReply("123", R"({"data": {"packageName": "com.example.other"}})");
  for (const wchar_t* openid : {L"", L"1", L"1234"}) {
    model().openid = openid;
    model()._getPackageByOpenID();
  }
  EXPECT_TRUE(requestedPaths().empty());
  EXPECT_TRUE(log_.messages(kFunction).empty());

  model().openid = L"12345";
  model()._getPackageByOpenID();
  model().openid = L"123";
  model()._getPackageByOpenID();  // asks with the package the first reply gave
  EXPECT_EQ(requestedPathsAfter(2),
            (std::vector<std::string>{"/zud/properties?openid=12345",
                                      "/zud/properties?openid=123&packageName=com.example.game"}));
  ASSERT_EQ(model().gameItems.size(), 2u);
  EXPECT_EQ(model().gameItems[1].packageName, L"com.example.other");
  const std::wstring url = servedUrl("/zud/properties?openid=12345");
  const std::vector<std::wstring> logged = log_.messages(kFunction);
  ASSERT_GE(logged.size(), 4u);
  EXPECT_EQ(std::vector<std::wstring>(logged.begin(), logged.begin() + 4),
            (std::vector<std::wstring>{
                L"start get openid : 12345 's config", L"url " + url,
                L"get config sucess {\"data\": {\"packageName\": \"com.example.game\"}}",
                L"package is com.example.game"}));
}

TEST_F(GameFetchTest, LibcurlTakesOverWhenTheSecondStackFails) {
  serveReply("12345", R"({"data": {"packageName": "com.example.game"}})");
  ASSERT_TRUE(backend_->addFault("/zud/*:status=500,once"));
  model().openid = L"12345";
  model()._getPackageByOpenID();
  EXPECT_EQ(requestedPathsAfter(2).size(), 2u);
  ASSERT_EQ(model().gameItems.size(), 1u);

  // libcurl also takes an error page, which is no configuration.
  ASSERT_TRUE(backend_->addFault("/zud/*:status=500"));
  log_.clear();
  BXDownloaderModel& again = freshModel();
  again.openid = L"12345";
  again._getPackageByOpenID();
  EXPECT_TRUE(again.gameItems.empty());
  EXPECT_TRUE(log_.has("BXDownloaderModel::_initAppInfoForCN", L"not object"));
}

TEST_F(GameFetchTest, NothingIsFetchedWhenTheServiceIsUnreachable) {
  useServices(vireo::testing::kClosedService);
  model().openid = L"12345";
  model()._getPackageByOpenID();
  EXPECT_TRUE(model().gameItems.empty());
  EXPECT_TRUE(log_.has(kFunction, L"get config sucess "));
  runPosted();
  EXPECT_TRUE(appInfo_.empty());
}

// The background picture first, the window icon when it did not arrive;
// a picture that only libcurl fetched must be larger than 5,120 bytes.
TEST_F(GameFetchTest, BrandingPictures) {
  struct Case {
    const char* what;
    int bgBytes;         // -1: no background in the reply; 0: not served
    bool bgFailsOnce;    // the second stack fails, libcurl gets the picture
    int iconBytes;       // -1: no window icon in the reply; 0: not served
    bool withName;
    int expected;        // 0 nothing, 1 the background, 2 the icon with the name
  };
  const Case cases[] = {
      {"any size through the second stack", 100, false, 100, true, 1},
      {"above the limit through libcurl", 5121, true, 100, true, 1},
      {"at the limit through libcurl: the icon instead", 5120, true, 100, true, 2},
      {"a missing background: the icon instead", 0, false, 100, true, 2},
      {"no background: the icon", -1, false, 100, true, 2},
      {"an icon without a name is not fetched", -1, false, 100, false, 0},
      {"a missing icon", -1, false, 0, true, 0},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string openid = std::to_string(20000 + index++);
    const std::string bgPath = "/pictures/" + openid + "_bg.jpg";
    const std::string iconPath = "/pictures/" + openid + "_icon.png";
    std::string data = R"("packageName": "com.example.game")";
    if (c.bgBytes >= 0) data += R"(, "installBg": ")" + backend_->baseUrl() + bgPath + "\"";
    if (c.iconBytes >= 0) data += R"(, "desktopGamePng": ")" + backend_->baseUrl() + iconPath + "\"";
    if (c.withName) data += R"(, "desktopGameName": "王者")";
    serveReply(openid, "{\"data\": {" + data + "}}");
    if (c.bgBytes > 0) serveFile(bgPath, std::string(c.bgBytes, 'b'));
    if (c.iconBytes > 0) serveFile(iconPath, std::string(c.iconBytes, 'i'));
    ASSERT_TRUE(backend_->clearFaults());
    if (c.bgFailsOnce) {
      ASSERT_TRUE(backend_->addFault(bgPath + ":status=500,once"));
    }
    // The pictures' folder is made when missing; a background of an earlier
    // run is replaced, never shown instead.
    std::filesystem::remove_all(brandingHost(""));
    if (index == 1) writeHostFile(brandingHost(openid + "_bg.jpg"), "old picture");

    BXDownloaderModel& m = freshModel();
    m.openid = utility::ustring::utf8ToWide(openid);
    m._getPackageByOpenID();
    EXPECT_TRUE(appInfo_.empty());  // only ever posted to the UI thread
    runPosted();

    const std::wstring id = m.openid;
    std::vector<AppInfo> expected;
    if (c.expected == 1) expected.push_back({brandingPath(id + L"_bg.jpg"), L"", L""});
    if (c.expected == 2) expected.push_back({L"", brandingPath(id + L"_icon.png"), L"王者"});
    EXPECT_EQ(appInfo_, expected);
    if (c.expected == 1) {
      EXPECT_EQ(readHostFile(brandingHost(openid + "_bg.jpg")), std::string(c.bgBytes, 'b'));
    } else {
      EXPECT_FALSE(hostFileExists(brandingHost(openid + "_bg.jpg")));
    }
    EXPECT_EQ(hostFileExists(brandingHost(openid + "_icon.png")), c.expected == 2);
  }
}

}  // namespace
}  // namespace gameconfig_tests
