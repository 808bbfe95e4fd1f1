// The signed full installers of the build, run as the installer runs them:
// what they install, what they post to the installer's window, and the
// behaviours tests choose through VIREO_STANDIN_INSTALLER.
#include <unistd.h>

#include "platform/code_pages.h"
#include "platform/registry_store.h"
#include "standin_fixture.h"
#include "utility/usystem.h"

namespace vireo::testing {
namespace {

using platform::Process;

constexpr const wchar_t* kCommandLineTail = L" -silence -downloader -openid=20391 -path=\"";

class FullInstallerTest : public ::testing::Test {
 protected:
  FullInstallerTest() : sandbox_({{'C', ""}, {'D', ""}}), profile_(sandbox_) {}

  // Places a release installer at D:\cache\<name> and returns its command
  // line for an install into `folder`, as the installer builds it.
  std::wstring prepare(const std::string& releaseName, const std::wstring& folder,
                       const std::string& program = "") {
    installProgram(program.empty() ? releaseInstaller(releaseName) : program,
                   sandbox_.driveRoot('D') + "/cache/" + releaseName);
    return L"\"D:\\cache\\" + platform::utf8ToWide(releaseName) + L"\"" + kCommandLineTail + folder + L"\"";
  }

  std::unique_ptr<Process> start(const std::wstring& commandLine) {
    auto process = Process::start(commandLine);
    EXPECT_TRUE(process) << "cannot start " << platform::wideToUtf8(commandLine);
    return process;
  }

  std::string host(const std::wstring& windowsPath) { return platform::hostPath(windowsPath); }

  Sandbox sandbox_;
  ProfileScope profile_;
};

TEST_F(FullInstallerTest, InstallsTheEditionAndReportsSuccess) {
  struct Case {
    const char* installer;
    const wchar_t* folder;
    const wchar_t* registryKey;
    const wchar_t* shortcut;  // empty: the edition has none
  };
  const Case cases[] = {
      {"zkinst9.0.exe", L"D:\\My Games\\tallis\\Vireo9\\", L"Software\\tallis\\Vireo9", L"拓岚模拟器9.lnk"},
      {"zkinst3.0.exe", L"D:\\tallis\\Vireo3\\", L"Software\\Halvard2\\varedori", L""},
      {"zkinst5.0.exe", L"D:\\tallis\\Vireo4\\", L"Software\\tallis\\Vireo", L"拓岚模拟器5.lnk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.installer);
    std::wstring commandLine = prepare(c.installer, c.folder);
    InstallerWindow window;
    ASSERT_TRUE(window.created());
    auto process = start(commandLine);
    ASSERT_TRUE(process);
    const auto& messages = window.runUntil([&] { return window.hasOutcome(); });
    ASSERT_EQ(process->wait(10000), WAIT_OBJECT_0);
    EXPECT_EQ(process->exitCode(), 0u);

    // A few rising progress values, then success.
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages.back().message, contract::kMsgInstallSucceeded);
    for (size_t i = 0; i + 1 < messages.size(); ++i) {
      EXPECT_EQ(messages[i].message, contract::kMsgInstallProgress);
      if (i > 0) {
        EXPECT_GT(messages[i].wParam, messages[i - 1].wParam);
      }
    }

    std::wstring folder = c.folder;
    EXPECT_EQ(readHostFile(host(folder + L"varedori.exe")), readHostFile(binFile("standin-emulator")));
    EXPECT_EQ(readHostFile(host(folder + L"bxconsole.exe")), readHostFile(binFile("standin-console")));
    EXPECT_EQ(access(host(folder + L"varedori.exe").c_str(), X_OK), 0);
    EXPECT_TRUE(std::filesystem::is_directory(host(folder + L"vms")));

    std::wstring installDir;
    EXPECT_EQ(platform::registry::readValue(HKEY_CURRENT_USER, c.registryKey, L"InstallDir", installDir),
              ERROR_SUCCESS);
    EXPECT_EQ(installDir, folder);

    std::wstring shortcut = std::wstring(L"C:\\Users\\tester\\Desktop\\") + c.shortcut;
    if (*c.shortcut) {
      std::wstring target;
      EXPECT_EQ(utility::usystem::resolveShortcutFromFile(shortcut, target), 0);
      EXPECT_EQ(target, folder + L"varedori.exe");
    }

    auto starts = recordLines(host(folder + L"full-installer-starts.txt"));
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(textOf(*starts[0], "commandLine"), platform::wideToUtf8(commandLine));
    EXPECT_EQ(textOf(*starts[0], "openid"), "20391");
    EXPECT_EQ(textOf(*starts[0], "path"), platform::wideToUtf8(folder));
  }
}

TEST_F(FullInstallerTest, AFailingInstallerReportsItsCodeAndInstallsNothing) {
  for (int code : {5, -7}) {
    SCOPED_TRACE(code);
    EnvironmentScope behaviour("VIREO_STANDIN_INSTALLER", "fail=" + std::to_string(code));
    std::wstring commandLine = prepare("zkinst9.0.exe", L"D:\\tallis\\Vireo9\\");
    InstallerWindow window;
    ASSERT_TRUE(window.created());
    auto process = start(commandLine);
    ASSERT_TRUE(process);
    const auto& messages = window.runUntil([&] { return window.hasOutcome(); });
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, contract::kMsgInstallError);
    EXPECT_EQ(static_cast<std::int32_t>(messages[0].wParam), code);
    ASSERT_EQ(process->wait(10000), WAIT_OBJECT_0);
    EXPECT_EQ(process->exitCode(), 1u);
    EXPECT_FALSE(hostFileExists(host(L"D:\\tallis\\Vireo9\\varedori.exe")));
    std::wstring value;
    EXPECT_EQ(platform::registry::readValue(HKEY_CURRENT_USER, L"Software\\tallis\\Vireo9", L"InstallDir", value),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(recordLines(host(L"D:\\tallis\\Vireo9\\full-installer-starts.txt")).size(), 1u)
        << "the start is recorded in the folder";
    std::filesystem::remove_all(host(L"D:\\tallis"));
  }
}

TEST_F(FullInstallerTest, AHangingInstallerRunsUntilEndedAndACrashingOneReportsNothing) {
  std::wstring commandLine = prepare("zkinst9.0.exe", L"D:\\tallis\\Vireo9\\");
  std::string record = host(L"D:\\tallis\\Vireo9\\full-installer-starts.txt");
  InstallerWindow window;
  ASSERT_TRUE(window.created());
  {
    EnvironmentScope behaviour("VIREO_STANDIN_INSTALLER", "hang");
    auto process = start(commandLine);
    ASSERT_TRUE(process);
    ASSERT_TRUE(waitForFile(record));
    EXPECT_EQ(process->wait(300), WAIT_TIMEOUT);
    auto ended = platform::endProcessesByName(L"zkinst9.0.exe", true);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0], process->id());
    EXPECT_EQ(process->wait(5000), WAIT_OBJECT_0);
  }
  {
    EnvironmentScope behaviour("VIREO_STANDIN_INSTALLER", "crash");
    auto process = start(commandLine);
    ASSERT_TRUE(process);
    window.runUntil([&] { return process->wait(0) == WAIT_OBJECT_0; });
    EXPECT_EQ(process->exitCode(), 3u) << "an abort";
  }
  EXPECT_TRUE(window.received().empty());
  EXPECT_EQ(recordLines(record).size(), 2u);
  EXPECT_FALSE(hostFileExists(host(L"D:\\tallis\\Vireo9\\varedori.exe")));
}

TEST_F(FullInstallerTest, ASlowInstallerSpreadsItsProgressAndSucceeds) {
  EnvironmentScope behaviour("VIREO_STANDIN_INSTALLER", "slow=600");
  std::wstring commandLine = prepare("zkinst64.exe", L"D:\\tallis\\Vireo64\\");
  InstallerWindow window;
  ASSERT_TRUE(window.created());
  auto process = start(commandLine);
  ASSERT_TRUE(process);
  // Part of the way through, some progress has arrived but no outcome yet.
  window.runUntil([&] { return !window.received().empty(); });
  EXPECT_FALSE(window.hasOutcome());
  const auto& messages = window.runUntil([&] { return window.hasOutcome(); });
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().message, contract::kMsgInstallSucceeded);
  EXPECT_EQ(process->wait(10000), WAIT_OBJECT_0);
  EXPECT_TRUE(hostFileExists(host(L"D:\\tallis\\Vireo64\\varedori.exe")));
}

TEST_F(FullInstallerTest, WhatItCannotDoIsReportedAsAnError) {
  struct Case {
    const char* name;
    std::string program;  // empty: the signed release installer
    const wchar_t* folder;
    DWORD expectedCode;
    std::string recordFolder;  // where the start is recorded
  };
  const Case cases[] = {
      {"a folder on no drive", "", L"Q:\\tallis\\Vireo9\\", ERROR_PATH_NOT_FOUND, "/cache"},
      {"no folder at all", "", L"", ERROR_INVALID_PARAMETER, "/cache"},
      {"the bare program without its payload", binFile("standin-full-installer"), L"D:\\tallis\\Vireo9\\",
       ERROR_INVALID_DATA, "/tallis/Vireo9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring commandLine = prepare("zkinst9.0.exe", c.folder, c.program);
    InstallerWindow window;
    ASSERT_TRUE(window.created());
    auto process = start(commandLine);
    ASSERT_TRUE(process);
    const auto& messages = window.runUntil([&] { return window.hasOutcome(); });
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().message, contract::kMsgInstallError);
    EXPECT_EQ(messages.back().wParam, c.expectedCode);
    EXPECT_EQ(process->wait(10000), WAIT_OBJECT_0);
    EXPECT_EQ(process->exitCode(), 1u);
    EXPECT_EQ(recordLines(sandbox_.driveRoot('D') + c.recordFolder + "/full-installer-starts.txt").size(), 1u);
    std::filesystem::remove_all(sandbox_.driveRoot('D') + "/tallis");
    std::filesystem::remove(sandbox_.driveRoot('D') + "/cache/full-installer-starts.txt");
  }
}

TEST_F(FullInstallerTest, AnUnknownBehaviourIsRefusedAndWithoutAWindowItStillInstalls) {
  std::wstring commandLine = prepare("zkinst9.0.exe", L"D:\\tallis\\Vireo9\\");
  {
    EnvironmentScope behaviour("VIREO_STANDIN_INSTALLER", "fial=5");
    EXPECT_EQ(runToEnd(commandLine), 2u);
    EXPECT_FALSE(hostFileExists(host(L"D:\\tallis\\Vireo9\\varedori.exe")));
  }
  // Nobody listens: the messages are lost, the installation is not.
  EXPECT_EQ(runToEnd(commandLine), 0u);
  EXPECT_TRUE(hostFileExists(host(L"D:\\tallis\\Vireo9\\varedori.exe")));
}

}  // namespace
}  // namespace vireo::testing
