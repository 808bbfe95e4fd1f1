// The installer program itself, run under file names and command lines of
// every shape in a sandbox machine: it ends with exit code 0 and writes its
// start lines and launch parameters to the sandbox's log.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "config/config_imp.h"
#include "config/installer_contract.h"
#include "platform/code_pages.h"
#include "platform/command_line.h"
#include "platform/machine_profile.h"
#include "support/sandbox.h"
#include "utility/reg_key.h"

namespace fs = std::filesystem;

namespace {

using vireo::testing::Sandbox;

constexpr const char* kProfileKeys =
    R"("adapters": ["00-1A-2B-3C-4D-5E"], "timeouts": {"exitPause": 10})";
const std::string kVersionLine =
    "downloader start. version is : 24.12.26 "
    "*******************************************************";

struct LogLine {
  std::string function, message;
  bool operator==(const LogLine&) const = default;
};

std::ostream& operator<<(std::ostream& out, const LogLine& l) {
  return out << l.function << ": " << testing::PrintToString(l.message);
}

// Every line's function and message (the text after the "(line):" header).
std::vector<LogLine> parseLog(const std::string& text) {
  static const std::regex header(
      R"((^|\r\n)\d\d-\d\d\t\d\d:\d\d:\d\d\.\d{3}\t\d{4,}\t([^\t\r\n]*)\t\(\d+\):)");
  std::vector<LogLine> lines;
  std::vector<std::pair<size_t, size_t>> spans;  // message start, header start
  for (auto it = std::sregex_iterator(text.begin(), text.end(), header);
       it != std::sregex_iterator(); ++it) {
    size_t headerStart = it->position(0) + it->length(1);
    if (!lines.empty()) {
      lines.back().message = text.substr(spans.back().first, headerStart - spans.back().first);
    }
    lines.push_back({(*it)[2].str(), ""});
    spans.push_back({it->position(0) + it->length(0), headerStart});
  }
  if (!lines.empty()) lines.back().message = text.substr(spans.back().first);
  for (auto& l : lines) {
    if (l.message.size() >= 2 && l.message.compare(l.message.size() - 2, 2, "\r\n") == 0) {
      l.message.resize(l.message.size() - 2);
    }
  }
  return lines;
}

class InstallerRun : public ::testing::Test {
 protected:
  void SetUp() override { box_ = std::make_unique<Sandbox>(std::vector<vireo::testing::SandboxDrive>{{'C', ""}}, kProfileKeys); }

  // Gives the sandbox a stored identifier, so that the run has nothing to
  // compute or log about it.
  void storeIdentifier() {
    box_->installInProcess();
    ConfigImp::getInstance()->pcid.clear();
    ConfigImp::getInstance()->getPCIDNew();
    ConfigImp::getInstance()->pcid.clear();
    platform::installMachineProfile({});
  }

  // Places a copy of the installer at C:\<relative> (a hard link when it can).
  std::string place(const std::string& relative) {
    std::string host = box_->driveRoot('C') + "/" + relative;
    fs::create_directories(fs::path(host).parent_path());
    std::string built = std::string(VIREO_BIN_DIR) + "/vireo-installer";
    std::error_code error;
    fs::create_hard_link(built, host, error);
    if (error) fs::copy_file(built, host);
    return host;
  }

  // Runs it with the command-line text after the program name, exactly as
  // a Windows parent would pass it; returns the exit code.
  int run(const std::string& relative, const std::wstring& arguments) {
    std::string host = place(relative);
    std::wstring windowsPath = L"C:\\" + platform::utf8ToWide(relative);
    for (auto& c : windowsPath) c = c == L'/' ? L'\\' : c;
    std::wstring full = platform::quoteArgument(windowsPath);
    if (!arguments.empty()) full += L" " + arguments;

    std::vector<std::string> args = {host};
    auto split = platform::splitCommandLine(full);
    for (size_t i = 1; i < split.size(); ++i) args.push_back(platform::wideToUtf8(split[i]));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string profile = "VIREO_PROFILE=" + box_->profilePath();
    std::string text = std::string(platform::kCommandLineVariable) + "=" + platform::wideToUtf8(full);
    std::string home = "HOME=" + box_->folder();
    char* envp[] = {profile.data(), text.data(), home.data(), nullptr};

    pid_t pid = -1;
    if (posix_spawn(&pid, host.c_str(), nullptr, nullptr, argv.data(), envp) != 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);  // our own child, hung
        waitpid(pid, &status, 0);
        return -2;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
  }

  std::string logPath() const { return box_->appDataHost() + "/downloader/downloader.log"; }
  std::vector<LogLine> log() const { return parseLog(vireo::testing::readHostFile(logPath())); }

  std::unique_ptr<Sandbox> box_;
};

struct RunCase {
  std::string file;           // under C:\ of the sandbox
  std::wstring arguments;     // the text after the program name
  std::vector<std::string> launchLines;  // under BXDownloaderModel::init
};

TEST_F(InstallerRun, LogsTheStartAndTheLaunchParametersOfEveryShape) {
  const std::string deep(240, 'd');
  const std::wstring longUrl = L"https://h.example/" + std::wstring(30000, L'u');
  const RunCase cases[] = {
      {"vireo9_com.example.game_20391_1.exe", L"",
       {"BXDownloaderModel::exe filename= vireo9_com.example.game_20391_1",
        "type: vireo9, package:com.example.game, openID:20391 gameID ",
        "openid is 20391, package is com.example.game"}},
      {"Downloads/vireo64_com.example.game_20391_55_x.exe",
       L"\"name=Game X|package=com.example.x|apkurl=https://h.example/g.apk\"",
       {"BXDownloaderModel::exe filename= vireo64_com.example.game_20391_55_x",
        "type: vireo64, package:com.example.game, openID:20391 gameID 55",
        "openid is 20391, package is com.example.game",
        "cmdline is Game X, com.example.x, https://h.example/g.apk"}},
      {"installer.exe", L"APKURL = a | Name = b",
       {"BXDownloaderModel::exe filename= installer", "openid is , package is ",
        "cmdline is b, , a"}},
      {"____.exe", L"\"",
       {"BXDownloaderModel::exe filename= ____", "type: , package:, openID: gameID ",
        "openid is , package is "}},
      {"VIREO5(64)_pkg.abc_123_7_z.exe", L"\"\"\"\"\"\"",
       {"BXDownloaderModel::exe filename= VIREO5(64)_pkg.abc_123_7_z",
        "type: VIREO5(64), package:pkg.abc, openID:123 gameID 7", "openid is 123, package is pkg.abc"}},
      {"vireo9_游戏包名_123_1.exe", L"package=com.example.x",
       {"BXDownloaderModel::exe filename= vireo9_游戏包名_123_1",
        "type: vireo9, package:游戏包名, openID:123 gameID ", "openid is 123, package is 游戏包名",
        "cmdline is , com.example.x, "}},
      {"vireo9_abc_12_1.exe", L"|||==|%s%n%ls|",
       {"BXDownloaderModel::exe filename= vireo9_abc_12_1",
        "type: vireo9, package:abc, openID:12 gameID ", "openid is , package is "}},
      // The executable's path is cut at 259 characters, as its 260-unit buffer
      // does: "...\vireo9_com.exam", whose last full stop then cuts the name.
      {deep + "/vireo9_com.example.game_20391_1.exe", L"",
       {"BXDownloaderModel::exe filename= vireo9_com", "openid is , package is "}},
      // A message is cut at 8,191 characters.
      {"vireo9_abcd_1234_1.exe", L"apkurl=" + longUrl,
       {"BXDownloaderModel::exe filename= vireo9_abcd_1234_1",
        "type: vireo9, package:abcd, openID:1234 gameID ", "openid is 1234, package is abcd",
        platform::wideToUtf8((L"cmdline is , , " + longUrl).substr(0, 8191))}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.substr(c.file.size() > 60 ? c.file.size() - 60 : 0));
    SetUp();
    storeIdentifier();
    ASSERT_FALSE(vireo::testing::hostFileExists(box_->appDataHost() + "/downloader"));
    EXPECT_EQ(run(c.file, c.arguments), 0);

    std::vector<LogLine> expected = {{"wWinMain", "\r\n\r\n start run"}};
    for (const auto& l : c.launchLines) expected.push_back({"BXDownloaderModel::init", l});
    expected.push_back({"wWinMain", kVersionLine});
    EXPECT_EQ(log(), expected);
  }
}

TEST_F(InstallerRun, ACleanMachineGetsItsIdentifierStored) {
  EXPECT_EQ(run("vireo9_com.example.game_20391_1.exe", L""), 0);
  std::vector<LogLine> lines = log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), (LogLine{"wWinMain", "\r\n\r\n start run"}));
  EXPECT_EQ(lines.back(), (LogLine{"wWinMain", kVersionLine}));
  bool identityLine = false;
  for (const auto& l : lines) {
    identityLine = identityLine || (l.function == "ConfigImp::getPCIDNew" &&
                                    l.message.rfind("read pcmac from  user reg error ", 0) == 0);
  }
  EXPECT_TRUE(identityLine);

  box_->installInProcess();
  utility::RegKey key;
  std::string pcidex;
  ASSERT_EQ(key.RegRegOpen(HKEY_CURRENT_USER, contract::kIdentityKey, KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(key.RegRead(contract::kPcidexValue, pcidex), ERROR_SUCCESS);
  EXPECT_FALSE(pcidex.empty());
  platform::installMachineProfile({});
}

TEST_F(InstallerRun, AnExistingLogIsAppendedTo) {
  storeIdentifier();
  vireo::testing::writeHostFile(logPath(), "earlier run\r\n");
  EXPECT_EQ(run("installer.exe", L""), 0);
  std::string text = vireo::testing::readHostFile(logPath());
  EXPECT_EQ(text.rfind("earlier run\r\n", 0), 0u);
  EXPECT_EQ(log().size(), 4u);
}

}  // namespace
