// Where the full installer is: the download-resolution answer read per
// edition, the override file, the two transfers and their fall-back.
#include <set>
#include <string>
#include <vector>

#include "model_fixture.h"
#include "utility/ustring.h"

namespace model_tests {
namespace {

constexpr const char* kThreadFunction = "BXDownloaderModel::_threadGetPlayerUrl";
constexpr const char* kAnswer =
    R"({"zud9": {"url": "https://h/9.exe", "ver": "9.1.2", "vershow": "9.1"},)"
    R"( "zud5": {"url": "https://h/5.exe", "url_spare": "https://s/5.exe", "ver": "5.0.1"}})";

bool isTickText(const std::wstring& text) {
  return !text.empty() && utility::ustring::isDigits(text) && text[0] != L'0';
}

class ResolutionTest : public ModelTest {
 protected:
  // A game in the list keeps the thread from going on to the game configuration.
  void withGame() { model().gameItems.push_back(GameItem{}); }

  void writeOverrideFile(const std::string& text) {
    writeHostFile(sandbox_.driveRoot('C') + "/tallisex", text);
  }
};

TEST_F(ResolutionTest, AnswersAreReadPerEdition) {
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  const struct {
    const char* name;
    int edition;
    std::string answer;
    std::wstring url, spare, version, versionShow;  // version "tick": the tick-count text
    bool error2;
  } cases[] = {
      {"edition 3 takes zud9; the spare defaults to the address", 3, kAnswer, L"https://h/9.exe",
       L"https://h/9.exe", L"9.1.2", L"9.1", false},
      {"edition 0 has no zud entry", 0, kAnswer, L"", L"", L"tick", L"", false},
      {"edition 7 reads as edition 0", 7, R"({"zud": {"url": "u0", "ver": "3"}})", L"u0", L"u0",
       L"3", L"", false},
      {"edition 4 copies zud5", 4, kAnswer, L"https://h/5.exe", L"https://s/5.exe", L"5.0.1", L"",
       false},
      {"edition 4 with only a url in zud5", 4, R"({"zud5": {"url": "u5"}})", L"u5", L"u5", L"tick",
       L"", false},
      {"edition 1 takes zud4", 1, R"({"zud4": {"url": "u4", "ver": "4"}, "zud": {"url": "x"}})",
       L"u4", L"u4", L"4", L"", false},
      {"edition 2 takes zud64", 2, R"({"zud64": {"url": "u64", "ver": "6"}})", L"u64", L"u64", L"6",
       L"", false},
      {"edition 5 takes zud5(64)", 5, R"j({"zud5(64)": {"url": "u564", "ver": "7"}})j", L"u564",
       L"u564", L"7", L"", false},
      {"a url given as a number is ignored", 3, R"({"zud9": {"url": 17, "ver": "9.1.2"}})", L"",
       L"", L"9.1.2", L"", false},
      {"an entry that is not an object is ignored", 3, R"({"zud9": "https://h/9.exe"})", L"", L"",
       L"tick", L"", false},
      {"values beyond ASCII arrive as UTF-16", 3,
       "{\"zud9\": {\"url\": \"u\", \"vershow\": \"\xE7\x89\x88\xE6\x9C\xAC 9\"}}", L"u", L"u",
       L"tick", L"\u7248\u672c 9", false},
      {"an HTML error page", 3, "<html><body>502 Bad Gateway</body></html>", L"", L"", L"tick", L"",
       true},
      {"a JSON array", 3, R"([{"zud9": {"url": "u"}}])", L"", L"", L"tick", L"", true},
      {"an empty answer", 3, "", L"", L"", L"tick", L"", true},
      {"nesting deep enough to exhaust a recursive parser", 3, deep, L"", L"", L"tick", L"", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    dropModel();
    ConfigImp::getInstance()->edition = c.edition;
    model().applyPlayerUrlAnswer(c.answer);
    const PlayerAddress address = model().getPlayerAddress();
    EXPECT_EQ(address.url, c.url);
    EXPECT_EQ(address.urlSpare, c.spare);
    if (c.version == L"tick") {
      EXPECT_TRUE(isTickText(address.version)) << utility::ustring::wideToUtf8(address.version);
    } else {
      EXPECT_EQ(address.version, c.version);
    }
    EXPECT_EQ(address.versionShow, c.versionShow);
    EXPECT_EQ(log_.has(kThreadFunction, L"error 2"), c.error2);
  }
}

TEST_F(ResolutionTest, TheZud5EntryIsKeptWhateverTheEdition) {
  model().applyPlayerUrlAnswer(kAnswer);
  const PlayerAddress zud5 = model().getZud5Address();
  EXPECT_EQ(zud5.url, L"https://h/5.exe");
  EXPECT_EQ(zud5.urlSpare, L"https://s/5.exe");
  EXPECT_EQ(zud5.version, L"5.0.1");
  EXPECT_EQ(model().getShowUrl(), L"https://h/9.exe");

  // A later answer without zud5 leaves it; the shown address prefers the spare.
  model().applyPlayerUrlAnswer(R"({"zud9": {"url": "a", "url_spare": "b"}})");
  EXPECT_EQ(model().getZud5Address().url, L"https://h/5.exe");
  EXPECT_EQ(model().getShowUrl(), L"b");
}

TEST_F(ResolutionTest, TheOverrideFileReplacesTheAnswerAndNothingIsFetched) {
  serve();
  serveFile("/zk/tallisex", R"({"zud9": {"url": "from-cdn"}})");
  writeOverrideFile(kAnswer);
  withGame();
  model()._threadGetPlayerUrl();
  EXPECT_EQ(model().getPlayerAddress().url, L"https://h/9.exe");
  EXPECT_EQ(model().getPlayerAddress().versionShow, L"9.1");
  EXPECT_TRUE(backend_->waitForRequestLines(1, std::chrono::milliseconds(500)).empty());
}

TEST_F(ResolutionTest, TheAnswerComesFromTheCdnThroughTheSecondStack) {
  serve();
  serveFile("/zk/tallisex", kAnswer);
  withGame();
  model()._threadGetPlayerUrl();
  EXPECT_EQ(model().getPlayerAddress().url, L"https://h/9.exe");
  const auto requests = backend_->waitForRequestLines(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(std::string(parseJson(requests[0])["path"].GetString()), "/zk/tallisex");
  EXPECT_FALSE(logged(kThreadFunction, L"error 1"));
}

TEST_F(ResolutionTest, LibcurlFetchesTheAnswerWhenTheSecondStackFails) {
  BackendOptions options;
  options.faults = {"/zk/tallisex:status=503,once"};
  serve(options);
  serveFile("/zk/tallisex", kAnswer);
  withGame();
  model()._threadGetPlayerUrl();
  EXPECT_EQ(model().getPlayerAddress().url, L"https://h/9.exe");
  const auto thread = messages(kThreadFunction);
  EXPECT_EQ(thread,
            (std::vector<std::wstring>{L"error 1", L"ZKCurlDownloader::downloadMemory start"}));
  // Lines of separate connections may be recorded in either order.
  const auto requests = backend_->waitForRequestLines(2);
  ASSERT_EQ(requests.size(), 2u);
  std::multiset<int> statuses = {parseJson(requests[0])["status"].GetInt(),
                                 parseJson(requests[1])["status"].GetInt()};
  EXPECT_EQ(statuses, (std::multiset<int>{200, 503}));
}

TEST_F(ResolutionTest, WithoutAGameTheConfigurationOfTheOpenidIsFetchedNext) {
  serve();
  serveFile("/zk/tallisex", kAnswer);
  model().openid = L"12345";
  model()._threadGetPlayerUrl();
  // Then the configuration (no reply is served: its own fall-back asks again).
  const auto requests = backend_->waitForRequestLines(2);
  ASSERT_GE(requests.size(), 2u);
  std::set<std::string> paths;
  for (const auto& r : requests) paths.insert(parseJson(r)["path"].GetString());
  EXPECT_EQ(paths, (std::set<std::string>{"/zk/tallisex", "/zud/properties?openid=12345"}));
  // The configuration is asked for only after the answer arrived.
  EXPECT_EQ(model().getPlayerAddress().url, L"https://h/9.exe");
}

TEST_F(ResolutionTest, AnErrorPageLeavesTheDefaults) {
  serve();
  serveFile("/zk/tallisex", "<html><body>maintenance</body></html>");
  withGame();
  model()._threadGetPlayerUrl();
  EXPECT_TRUE(logged(kThreadFunction, L"error 2"));
  EXPECT_TRUE(model().getPlayerAddress().url.empty());
  EXPECT_TRUE(isTickText(model().getPlayerAddress().version));
}

TEST_F(ResolutionTest, BothTransfersFailingLeavesTheDefaults) {
  // The sandbox's services point at a closed port.
  withGame();
  model()._threadGetPlayerUrl();
  const auto thread = messages(kThreadFunction);
  EXPECT_EQ(thread, (std::vector<std::wstring>{
                        L"error 1", L"ZKCurlDownloader::downloadMemory start", L"error 2"}));
  EXPECT_FALSE(messages("ZKCurlDownloader::downloadMemory").empty());
  const PlayerAddress address = model().getPlayerAddress();
  EXPECT_TRUE(address.url.empty());
  EXPECT_TRUE(address.urlSpare.empty());
  EXPECT_TRUE(isTickText(address.version));
}

}  // namespace
}  // namespace model_tests
