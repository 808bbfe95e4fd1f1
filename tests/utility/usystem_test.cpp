#include "utility/usystem.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "log_capture.h"
#include "platform/last_error.h"
#include "platform/registry_store.h"
#include "scoped_sandbox.h"
#include "utility/ustring.h"

namespace sys = utility::usystem;
using utility_tests::LogCapture;
using utility_tests::ScopedSandbox;
using vireo::testing::readHostFile;

namespace {

const wchar_t* const kCurrentVersion = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

std::string windowsKey(unsigned major, unsigned minor, unsigned build, bool is64) {
  return "\"windows\": {\"major\": " + std::to_string(major) +
         ", \"minor\": " + std::to_string(minor) + ", \"build\": " + std::to_string(build) +
         ", \"is64Bit\": " + (is64 ? "true" : "false") + "}";
}

TEST(UsystemOsName, ProfileVersions) {
  struct Case {
    unsigned major, minor, build;
    bool is64;
    const wchar_t* name;
    int code;
  };
  const Case cases[] = {
      {4, 0, 1381, false, L"Microsoft windows XP Older", 1},
      {5, 0, 2195, false, L"Microsoft Windows 2000", 2},
      {5, 1, 2600, false, L"Microsoft Windows XP", 3},
      {5, 2, 3790, true, L"Microsoft Windows XP Professional x64 Edition", 4},
      {5, 2, 3790, false, L"Microsoft Windows Server 2003", 5},
      {5, 3, 1, false, L"", 0},
      {6, 0, 6002, false, L"Microsoft Windows Vista", 7},
      {6, 1, 7601, true, L"Microsoft Windows 7", 10},
      {6, 2, 9200, true, L"Microsoft Windows 8.0", 12},
      {6, 3, 9600, true, L"Microsoft Windows 8.1", 14},
      {10, 0, 19045, true, L"Microsoft Windows 10", 18},
      {10, 0, 21999, true, L"Microsoft Windows 10", 18},
      {10, 0, 22000, true, L"Microsoft Windows 11", 19},
      {10, 0, 26100, true, L"Microsoft Windows 11", 19},
      {3, 51, 1057, false, L"未知操作系统", 0},
  };
  for (const auto& c : cases) {
    ScopedSandbox sandbox(windowsKey(c.major, c.minor, c.build, c.is64));
    std::wstring name = L"previous";
    EXPECT_EQ(sys::getOSName(name), c.code) << c.major << "." << c.minor << "." << c.build;
    EXPECT_EQ(name, c.name) << c.major << "." << c.minor << "." << c.build;
    EXPECT_EQ(sys::isWindows11(), c.code == 19);
    EXPECT_EQ(sys::isVistaOrLater(), c.major > 5);
    EXPECT_EQ(sys::is64BitOS(), c.is64);
  }
}

TEST(UsystemOsName, ServerRowsOfTheTable) {
  struct Case {
    unsigned major, minor;
    bool workstation, amd64;
    int serverR2;
    const wchar_t* name;
    int code;
  };
  const Case cases[] = {
      {5, 2, false, true, 0, L"Microsoft Windows Server 2003", 5},
      {5, 2, false, false, 1, L"Microsoft Windows Server 2003 R2", 6},
      {6, 0, false, true, 0, L"Microsoft Windows Server 2008", 8},
      {6, 1, false, true, 0, L"Microsoft Windows Server 2008 R2", 9},
      {6, 5, true, true, 0, L"", 0},
  };
  for (const auto& c : cases) {
    sys::OsVersionFacts facts;
    facts.major = c.major;
    facts.minor = c.minor;
    facts.workstation = c.workstation;
    facts.amd64 = c.amd64;
    facts.serverR2 = c.serverR2;
    std::wstring name;
    EXPECT_EQ(sys::osNameForVersion(facts, {c.major, c.minor, 1}, name), c.code) << c.name;
    EXPECT_EQ(name, c.name);
  }
}

TEST(UsystemOsName, TheRegistryBuildDecidesBetweenWindows10And11) {
  struct Case {
    const wchar_t* registryBuild;  // null: no value
    unsigned profileBuild;
    const wchar_t* currentBuild;
    int code;
  };
  const Case cases[] = {
      {nullptr, 22631, L"22631", 19},
      {nullptr, 19045, L"19045", 18},
      {L"19045", 22631, L"19045", 18},
      {L"22000", 19045, L"22000", 19},
      {L"not a number", 22631, L"not a number", 18},
      {L"1234567890123456", 22631, L"", 18},  // longer than the 32-byte buffer
  };
  for (const auto& c : cases) {
    ScopedSandbox sandbox(windowsKey(10, 0, c.profileBuild, true));
    if (c.registryBuild) {
      ASSERT_EQ(platform::registry::createKey(HKEY_LOCAL_MACHINE, kCurrentVersion), ERROR_SUCCESS);
      ASSERT_EQ(platform::registry::writeValue(HKEY_LOCAL_MACHINE, kCurrentVersion,
                                               L"CurrentBuild", c.registryBuild),
                ERROR_SUCCESS);
    }
    EXPECT_EQ(sys::getCurrentBuild(), c.currentBuild);
    std::wstring name;
    EXPECT_EQ(sys::getOSName(name), c.code) << c.currentBuild;
  }
}

TEST(UsystemGuid, FormatAndUniqueness) {
  std::wregex shape(L"^[0-9A-F]{8}_[0-9A-F]{4}_[0-9a-f]{4}_[0-9A-F]{4}_[0-9A-F]{12}$");
  std::set<std::wstring> seen;
  bool thirdHasLetters = false;
  for (int i = 0; i < 200; ++i) {
    std::wstring guid = sys::createGuidString();
    ASSERT_EQ(guid.size(), 36u);
    ASSERT_TRUE(std::regex_match(guid, shape)) << guid;
    thirdHasLetters = thirdHasLetters || guid.substr(14, 4).find_first_of(L"abcdef") != std::wstring::npos;
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_TRUE(thirdHasLetters);  // the third group really is lower case
}

TEST(UsystemMutex, CreatedNewOrExisting) {
  ScopedSandbox sandbox;
  const std::wstring name = L"{2266E930-7040-4A6B-B7C8-E44663785cdd}";
  sys::MutexHandle first = sys::createNamedMutex(name, false, true);
  ASSERT_TRUE(first);
  EXPECT_EQ(platform::getLastError(), ERROR_SUCCESS);

  EXPECT_FALSE(sys::createNamedMutex(name, true, true));
  EXPECT_EQ(platform::getLastError(), ERROR_ALREADY_EXISTS);

  sys::MutexHandle shared = sys::createNamedMutex(name, false, false);
  EXPECT_TRUE(shared);
  EXPECT_EQ(platform::getLastError(), ERROR_ALREADY_EXISTS);

  first.reset();
  shared.reset();
  sys::MutexHandle again = sys::createNamedMutex(name, true, true);
  EXPECT_TRUE(again);  // every handle was closed: the name is free again
}

TEST(UsystemShell, UnderAProfileAddressesAndRestartsAreOnlyRecorded) {
  ScopedSandbox sandbox;
  LogCapture log;
  EXPECT_NE(sys::openUrl(L"https://127.0.0.1:9/page?a=1&b=中"), 0);
  EXPECT_NE(readHostFile(sandbox.folder() + "/opened-urls.txt").find("https://127.0.0.1:9/page?a=1&b="),
            std::string::npos);

  EXPECT_TRUE(sys::enableShutdownPrivilege());
  EXPECT_TRUE(sys::rebootSystem());
  EXPECT_FALSE(readHostFile(sandbox.folder() + "/restart-requests.txt").empty());
  EXPECT_EQ(log.messages("utility::usystem::rebootSystem").size(), 1u);
}

}  // namespace
