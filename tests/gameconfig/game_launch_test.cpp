// The game's desktop shortcut, and the emulator started for the game of the
// launch parameters (the stand-in emulator records its argument text).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "gameconfig_fixture.h"
#include "utility/usystem.h"

namespace gameconfig_tests {
namespace {

// The string data of a shell link [MS-SHLLINK] that the shortcut holds.
struct LinkStrings {
  std::optional<std::wstring> workingDir, arguments, iconLocation;
};

std::uint32_t little(const std::string& s, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s.at(at + i));
  return v;
}

LinkStrings readLinkStrings(const std::string& bytes) {
  LinkStrings out;
  const std::uint32_t flags = little(bytes, 20, 4);
  std::size_t at = 76;
  if (flags & 0x01) at += 2 + little(bytes, at, 2);  // target item list
  if (flags & 0x02) at += little(bytes, at, 4);      // link information
  auto next = [&](std::uint32_t flag, std::optional<std::wstring>* into) {
    if (!(flags & flag)) return;
    const std::uint32_t units = little(bytes, at, 2);
    std::wstring text;
    for (std::uint32_t i = 0; i < units; ++i) text += static_cast<wchar_t>(little(bytes, at + 2 + 2 * i, 2));
    if (into) *into = text;
    at += 2 + 2 * units;
  };
  next(0x04, nullptr);  // name
  next(0x08, nullptr);  // relative path
  next(0x10, &out.workingDir);
  next(0x20, &out.arguments);
  next(0x40, &out.iconLocation);
  return out;
}

class GameLaunchTest : public GameConfigTest {
 protected:
  std::string linkHost(const std::string& name) const {
    return sandbox_.desktopHost() + "/" + name + ".lnk";
  }
};

TEST_F(GameLaunchTest, NoShortcutWithoutTheIcon) {
  model().gameConfig.shortcutName = L"王者";
  model().gameConfig.runApp = L"com.example.game";
  model().createApkShortCut();
  EXPECT_FALSE(hostFileExists(linkHost("王者")));
  EXPECT_FALSE(hostFileExists(dataHost("data.ini")));

  // Nor without a name, even when an icon without a name exists.
  writeHostFile(dataHost(".ico"), "icon");
  model().gameConfig.shortcutName = L"";
  model().createApkShortCut();
  EXPECT_TRUE(std::filesystem::is_empty(sandbox_.desktopHost()));
}

TEST_F(GameLaunchTest, TheShortcutOpensTheGameInTheEmulator) {
  writeHostFile(dataHost("王者.ico"), "icon");
  writeHostFile(dataHost("data.ini"), "[setting]\r\nrunapp=com.example.game\r\n");
  model().gameConfig.shortcutName = L"王者";
  model().gameConfig.runApp = L"com.example.game";
  model().createApkShortCut();

  std::wstring target;
  ASSERT_EQ(utility::usystem::resolveShortcutFromFile(L"C:\\Users\\tester\\Desktop\\王者.lnk", target),
            0);
  EXPECT_EQ(target, L"D:\\tallis\\Vireo9\\varedori.exe");
  const LinkStrings link = readLinkStrings(readHostFile(linkHost("王者")));
  EXPECT_EQ(link.arguments, L"package=com.example.game");
  EXPECT_EQ(link.iconLocation, L"D:\\tallis\\Vireo9\\data\\王者.ico");
  EXPECT_EQ(link.workingDir, L"D:\\tallis\\Vireo9\\");
  EXPECT_EQ(readHostFile(dataHost("data.ini")),
            "[setting]\r\nrunapp=com.example.game\r\nshortcut=\xE7\x8E\x8B\xE8\x80\x85\r\n");
  EXPECT_TRUE(log_.has("BXDownloaderModel::createApkShortCut", L"start create shortcut"));
}

// The argument text for a game identifier, for a package, and for neither.
TEST_F(GameLaunchTest, RunGameStartsTheEmulatorWithTheGame) {
  const std::string emulator = sandbox_.driveRoot('D') + "/tallis/Vireo9/varedori.exe";
  std::filesystem::create_directories(std::filesystem::path(emulator).parent_path());
  std::filesystem::copy_file(std::string(VIREO_BIN_DIR) + "/standin-emulator", emulator);
  chmod(emulator.c_str(), 0755);
  const std::string record = sandbox_.driveRoot('D') + "/tallis/Vireo9/varedori-starts.txt";

  struct Case {
    const wchar_t* gameId;
    const wchar_t* packageName;
    const char* arguments;
  };
  const Case cases[] = {
      {L"1024", L"com.example.game", "downloadgameid=1024|package=com.example.game"},
      {L"1024", L"", "downloadgameid=1024|package="},
      {L"", L"com.example.game", "downloadpackage=com.example.game|package=com.example.game"},
      {L"", L"", ""},
  };
  std::size_t starts = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    model().gameId = c.gameId;
    model().packageName = c.packageName;
    model().runGame();
    ++starts;
    std::vector<std::string> lines;
    ASSERT_TRUE(runLoopUntil([&] {
      std::istringstream text(readHostFile(record));
      lines.clear();
      for (std::string line; std::getline(text, line);) lines.push_back(line);
      return lines.size() >= starts;
    }));
    rapidjson::Document start;
    start.Parse(lines.back().c_str());
    ASSERT_TRUE(start.IsObject());
    EXPECT_EQ(std::string(start["arguments"].GetString()), c.arguments);
    // The emulator runs until it is ended; this test started it.
    const auto pid = static_cast<pid_t>(start["pid"].GetInt64());
    ASSERT_GT(pid, 0);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
}

}  // namespace
}  // namespace gameconfig_tests
