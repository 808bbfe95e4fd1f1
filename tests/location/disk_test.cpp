// helper::disk over sandbox drives whose volume facts come from the profile
// (free MiB, solid state, hot-plug, file system), and the desktop shortcuts
// it writes, read back as the installer reads them.
#include "utility/disk.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_pages.h"
#include "platform/machine_profile.h"
#include "utility/log_capture.h"
#include "utility/scoped_sandbox.h"
#include "utility/usystem.h"

namespace fs = std::filesystem;
using utility_tests::LogCapture;
using utility_tests::ScopedSandbox;
using vireo::testing::readHostFile;
using vireo::testing::SandboxDrive;

namespace {

// A profile drive: NTFS unless said otherwise, never hot-plug unless said.
SandboxDrive drive(char letter, double freeMiB, bool ssd, const std::string& more = "") {
  std::string json =
      "\"freeMiB\": " + std::to_string(freeMiB) + ", \"ssd\": " + (ssd ? "true" : "false");
  json += more.empty() ? ", \"fs\": \"NTFS\"" : ", " + more;
  return {letter, json};
}

struct BestDriveCase {
  const char* what;
  std::vector<SandboxDrive> drives;
  std::wstring best;
  bool bestIsSsd;
};

TEST(BestDrive, ChoosesByScoreWithTheSolidStatePreference) {
  const BestDriveCase cases[] = {
      {"SSD above 17 GiB beats a larger hard disk",
       {drive('C', 40000, false), drive('D', 20000, true)},
       L"D:\\",
       true},
      {"SSD below 17 GiB competes on free space alone",
       {drive('C', 40000, false), drive('D', 17000, true)},
       L"C:\\",
       false},
      {"exactly 17,408 MiB (and a fraction) is not above the threshold",
       {drive('C', 17409, false), drive('D', 17408.9, true)},
       L"C:\\",
       false},
      {"among large SSDs the roomier one wins",
       {drive('C', 30000, true), drive('D', 90000, false), drive('E', 40000, true)},
       L"E:\\",
       true},
      {"a tie goes to the earlier letter",
       {drive('D', 30000, false), drive('E', 30000, false)},
       L"D:\\",
       false},
      {"exFAT scores 0",
       {drive('C', 10, false), drive('D', 900000, true, "\"fs\": \"exFAT\"")},
       L"C:\\",
       false},
      {"FAT32 is usable",
       {drive('C', 10, false), drive('D', 900, false, "\"fs\": \"FAT32\"")},
       L"D:\\",
       false},
      {"file-system names compare exactly",
       {drive('C', 10, false), drive('D', 900, false, "\"fs\": \"ntfs\"")},
       L"C:\\",
       false},
      {"hot-plug drives are no candidates",
       {drive('C', 10, false), drive('D', 900000, true, "\"fs\": \"NTFS\", \"hotplug\": true")},
       L"C:\\",
       false},
      {"drives that are not fixed are no candidates",
       {drive('C', 10, false), drive('D', 900000, true, "\"fs\": \"NTFS\", \"fixed\": false")},
       L"C:\\",
       false},
      {"when every drive scores 0 the first is taken",
       {drive('C', 500, true, "\"fs\": \"exFAT\""), drive('D', 900, false, "\"fs\": \"UDF\"")},
       L"C:\\",
       false},
  };
  for (const auto& c : cases) {
    ScopedSandbox sandbox(c.drives);
    bool isSsd = false;
    EXPECT_EQ(helper::disk::getMaxFreeSpaceDrive(isSsd), c.best) << c.what;
    EXPECT_EQ(isSsd, c.bestIsSsd) << c.what;
  }
}

TEST(BestDrive, NoFixedDriveGivesNothingAndLeavesTheFlag) {
  ScopedSandbox sandbox({drive('C', 900, true, "\"fs\": \"NTFS\", \"hotplug\": true")});
  bool isSsd = true;
  EXPECT_EQ(helper::disk::getMaxFreeSpaceDrive(isSsd), L"");
  EXPECT_TRUE(isSsd);
}

TEST(BestDrive, ADriveWhoseRootIsMissingGivesNeutralAnswers) {
  ScopedSandbox sandbox({drive('C', 100, false), drive('D', 900000, true)});
  fs::remove_all(sandbox.driveRoot('D'));
  bool isSsd = false;
  EXPECT_EQ(helper::disk::getMaxFreeSpaceDrive(isSsd), L"C:\\");
  EXPECT_EQ(helper::disk::getDriveScore(L"D:\\", isSsd), 0);
  EXPECT_FALSE(isSsd);
  EXPECT_FALSE(helper::disk::isSSD(L"D:"));
  EXPECT_FALSE(helper::disk::isHotplugDrive(L"D:\\"));
  EXPECT_EQ(helper::disk::getDiskFreeMB(L"D:\\"), 0);
  EXPECT_FALSE(helper::disk::isValidPath(L"D:\\Games"));
}

TEST(DriveScore, IsFreeMiBTimesAThousandForALargeSsd) {
  ScopedSandbox sandbox({drive('C', 40000, false), drive('D', 20000, true)});
  bool isSsd = false;
  EXPECT_DOUBLE_EQ(helper::disk::getDriveScore(L"D:\\", isSsd), 20000000.0);
  EXPECT_TRUE(isSsd);
  EXPECT_DOUBLE_EQ(helper::disk::getDriveScore(L"C:\\", isSsd), 40000.0);
  EXPECT_FALSE(isSsd);
}

TEST(DriveScore, AnUnusableFileSystemScoresZeroAndIsNotSolidState) {
  ScopedSandbox sandbox({drive('C', 40000, true, "\"fs\": \"exFAT\"")});
  bool isSsd = true;
  EXPECT_EQ(helper::disk::getDriveScore(L"C:\\", isSsd), 0);
  EXPECT_FALSE(isSsd);
}

TEST(SolidState, LogsWhetherTheDriveSupportsTrim) {
  ScopedSandbox sandbox({drive('C', 100, false), drive('D', 100, true)});
  LogCapture log;
  EXPECT_TRUE(helper::disk::isSSD(L"D:"));
  EXPECT_TRUE(helper::disk::isSSD(L"d:"));
  EXPECT_FALSE(helper::disk::isSSD(L"C:"));
  EXPECT_FALSE(helper::disk::isSSD(L"Q:"));  // no device: nothing logged
  EXPECT_FALSE(helper::disk::isSSD(L"D"));
  EXPECT_EQ(log.messages("helper::disk::isSSD"),
            (std::vector<std::wstring>{L"It is suport trim", L"It is suport trim",
                                       L"It is not suport trim"}));
}

TEST(FixedDrives, AreListedInLetterOrderWithoutHotplugOnes) {
  ScopedSandbox sandbox({drive('E', 1, false), drive('C', 1, false),
                         drive('D', 1, false, "\"fs\": \"NTFS\", \"hotplug\": true"),
                         drive('F', 1, false, "\"fs\": \"NTFS\", \"fixed\": false")});
  std::vector<std::wstring> drives;
  helper::disk::getFixedDrives(drives);
  EXPECT_EQ(drives, (std::vector<std::wstring>{L"C:\\", L"E:\\"}));
  EXPECT_TRUE(helper::disk::isHotplugDrive(L"D:"));
  EXPECT_FALSE(helper::disk::isHotplugDrive(L"C:\\"));
}

TEST(FreeSpace, TheFileSystemTestAppliesOnlyToADriveRoot) {
  ScopedSandbox sandbox({drive('C', 40000, false), drive('D', 20000, false, "\"fs\": \"exFAT\"")});
  fs::create_directories(sandbox.driveRoot('D') + "/Games");
  struct Case {
    std::wstring path;
    double getFreeSpaceMB;
    double getDiskFreeMB;
  } cases[] = {
      {L"D:\\", 0, 20000},
      {L"D:/", 0, 20000},
      {L"D:\\Games", 20000, 20000},
      {L"D:\\not yet there\\x", 20000, 20000},  // only the root is measured
      {L"C:\\", 40000, 40000},
      {L"c:\\tallis", 40000, 40000},
      {L"Q:\\", 0, 0},
      {L"", 0, 0},
      {L"D", 0, 0},
  };
  for (const auto& c : cases) {
    std::string shown = platform::wideToUtf8(c.path);
    EXPECT_DOUBLE_EQ(helper::disk::getFreeSpaceMB(c.path), c.getFreeSpaceMB) << shown;
    EXPECT_DOUBLE_EQ(helper::disk::getDiskFreeMB(c.path), c.getDiskFreeMB) << shown;
  }
}

TEST(Paths, NormalizeAndTrimForChecking) {
  struct Case {
    std::wstring in, out;
  } cases[] = {
      {L"D:/Games//Vireo/", L"d:\\games\\vireo"},
      {L"\\\\\\C:\\\\\\x\\\\", L"c:\\x"},
      {L"D:\\", L"d:"},
      {L"\\/\\", L""},
      {L"  A b ", L"  a b "},
  };
  for (const auto& c : cases) EXPECT_EQ(helper::disk::normalizePath(c.in), c.out);
  std::wstring padded = L"  D:\\x \t ";
  helper::disk::trimSpaces(padded);
  EXPECT_EQ(padded, L"D:\\x \t");
}

TEST(Paths, ValidityFollowsEveryRule) {
  ScopedSandbox sandbox({drive('C', 100, false), drive('D', 100, false), drive('E', 0, false)});
  struct Case {
    std::wstring path;
    bool valid;
  } cases[] = {
      {L"d:\\games\\a*b", false},  // forbidden character
      {L"D:\\games\\a?b", false},
      {L"D:\\games\\a<b>", false},
      {L"D:\\games\\a|b", false},
      {L"D:\\games\\a\"b", false},
      {L"D:\\games\\a:b", false},
      {L"D:\\games\\   \\Vireo", false},  // a component of spaces
      {L"Q:\\games", false},              // no such drive
      {L"E:\\games", false},              // no free space
      {L"D", false},                      // too short
      {L"D:", true},                      // names the root, as D:\ does
      {L"D:games", false},                // no root
      {L"", false},
      {L"D:/Games//Vireo", true},  // separators are normalised first
      {L"D:\\", true},             // a bare root
      {L"d:\\", true},
      {L"  D:\\Games\\Vireo  ", true},
      {L"D:\\Games\\ ", true},  // the last component is not tested
      {L"D:\\游戏\\模拟器", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(helper::disk::isValidPath(c.path), c.valid) << platform::wideToUtf8(c.path);
  }
}

// The parts of a shell-link file that the writer sets.
struct LinkFields {
  std::uint32_t flags = 0;
  std::uint32_t iconIndex = 0;
  std::optional<std::wstring> workingDir, arguments, iconLocation;
};

std::uint32_t read32(const std::string& s, size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s.at(at + i));
  return v;
}
std::uint16_t read16(const std::string& s, size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(s.at(at)) |
                                    (static_cast<unsigned char>(s.at(at + 1)) << 8));
}

LinkFields readLinkFields(const std::string& bytes) {
  LinkFields f;
  f.flags = read32(bytes, 20);
  f.iconIndex = read32(bytes, 56);
  size_t at = 76;
  if (f.flags & 0x01) at += 2 + read16(bytes, at);
  if (f.flags & 0x02) at += read32(bytes, at);
  auto stringData = [&](std::uint32_t flag, std::optional<std::wstring>& out) {
    if (!(f.flags & flag)) return;
    std::uint16_t units = read16(bytes, at);
    std::wstring text;
    for (std::uint16_t i = 0; i < units; ++i)
      text += static_cast<wchar_t>(read16(bytes, at + 2 + 2 * i));
    out = text;
    at += 2 + 2u * units;
  };
  std::optional<std::wstring> ignored;
  stringData(0x04, ignored);  // name
  stringData(0x08, ignored);  // relative path
  stringData(0x10, f.workingDir);
  stringData(0x20, f.arguments);
  stringData(0x40, f.iconLocation);
  return f;
}

class ShortcutTest : public ::testing::Test {
 protected:
  ScopedSandbox sandbox_{{drive('C', 100, false), drive('D', 100, false)}};
  std::string desktop_ = sandbox_.desktopHost();
  std::wstring target_ = L"D:\\tallis\\Vireo9\\varedori.exe";

  void SetUp() override {
    vireo::testing::writeHostFile(sandbox_.driveRoot('D') + "/tallis/Vireo9/varedori.exe", "exe");
  }
};

TEST_F(ShortcutTest, WritesALinkTheShortcutReaderFollows) {
  helper::disk::createShortcut(L"王者游戏", L"D:\\tallis\\Vireo9\\data\\王者游戏.ico",
                               L"D:\\tallis\\Vireo9", target_, L"package=com.example.game");
  std::wstring target;
  ASSERT_EQ(utility::usystem::resolveShortcutFromFile(L"C:\\Users\\tester\\Desktop\\王者游戏.lnk",
                                                      target),
            0);
  EXPECT_EQ(target, target_);
  LinkFields f = readLinkFields(readHostFile(desktop_ + "/王者游戏.lnk"));
  EXPECT_EQ(f.workingDir, L"D:\\tallis\\Vireo9");
  EXPECT_EQ(f.arguments, L"package=com.example.game");
  EXPECT_EQ(f.iconLocation, L"D:\\tallis\\Vireo9\\data\\王者游戏.ico");
  EXPECT_EQ(f.iconIndex, 0u);
}

TEST_F(ShortcutTest, EmptyArgumentsAreLeftUnsetAndALinkOfTheSameNameIsReplaced) {
  helper::disk::createShortcut(L"Game", L"", L"D:\\tallis\\Vireo9", target_, L"package=a");
  helper::disk::createShortcut(L"Game", L"D:\\icon.ico", L"D:\\tallis\\Vireo9", target_, L"");
  LinkFields f = readLinkFields(readHostFile(desktop_ + "/Game.lnk"));
  EXPECT_FALSE(f.flags & 0x20);
  EXPECT_FALSE(f.arguments.has_value());
  EXPECT_EQ(f.iconLocation, L"D:\\icon.ico");
  std::wstring target;
  EXPECT_EQ(
      utility::usystem::resolveShortcutFromFile(L"C:\\Users\\tester\\Desktop\\Game.lnk", target),
      0);
  EXPECT_EQ(target, target_);
}

TEST_F(ShortcutTest, ANameCannotPlaceTheLinkOutsideTheDesktop) {
  helper::disk::createShortcut(L"..\\..\\evil/x", L"", L"", target_, L"");
  EXPECT_TRUE(fs::exists(desktop_ + "/.._.._evil_x.lnk"));
  std::vector<std::string> outside;
  for (const auto& entry : fs::recursive_directory_iterator(sandbox_.driveRoot('C'))) {
    std::string name = entry.path().filename().string();
    if (name.find("evil") != std::string::npos && entry.path().parent_path().string() != desktop_) {
      outside.push_back(entry.path().string());
    }
  }
  EXPECT_TRUE(outside.empty()) << outside.front();
}

TEST_F(ShortcutTest, ADesktopWithoutAPathIsLoggedAndNothingIsWritten) {
  platform::MachineProfile profile = platform::machineProfile();
  profile.desktop = L"Q:\\Desktop";  // a drive that does not exist
  platform::installMachineProfile(profile);
  LogCapture log;
  helper::disk::createShortcut(L"Game", L"", L"", target_, L"");
  EXPECT_EQ(log.messages("helper::disk::createShortcut"),
            (std::vector<std::wstring>{L"install 2 of create shortcut failed!"}));
  EXPECT_FALSE(fs::exists(desktop_ + "/Game.lnk"));
}

TEST(ProcessMap, ListsTheSandboxProcessesAndReportsAnEmptySnapshotOnStandardOutput) {
  ScopedSandbox sandbox({drive('C', 100, false)});
  std::map<std::wstring, DWORD> processes{{L"kept.exe", 7}};
  ::testing::internal::CaptureStdout();
  helper::disk::getProcessMap(processes);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Process32First\n");
  EXPECT_EQ(processes.size(), 1u);  // left as it was

  const std::string program = sandbox.driveRoot('C') + "/varedori.exe";
  fs::copy_file("/bin/sleep", program);
  char arg0[] = "varedori.exe";
  char arg1[] = "30";
  char* argv[] = {arg0, arg1, nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
  helper::disk::getProcessMap(processes);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  ASSERT_EQ(processes.count(L"varedori.exe"), 1u);
  EXPECT_EQ(processes[L"varedori.exe"], static_cast<DWORD>(pid));
}

}  // namespace
