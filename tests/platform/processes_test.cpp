#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <sstream>

#include "platform/code_pages.h"
#include "platform/last_error.h"
#include "platform/processes.h"
#include "platform/system_programs.h"
#include "platform/taskkill.h"
#include "probe_support.h"

namespace {

using platform::Process;
using vireo::testing::copyProbeTo;
using vireo::testing::hostFileExists;
using vireo::testing::probeCommand;
using vireo::testing::processAlive;
using vireo::testing::ProfileScope;
using vireo::testing::readHostFile;
using vireo::testing::Sandbox;
using vireo::testing::waitForFile;
using vireo::testing::writeHostFile;

std::wstring wide(const std::string& s) { return platform::utf8ToWide(s); }

// The value of "key=" lines the probe's "record" command wrote.
std::vector<std::string> recorded(const std::string& text, const std::string& key) {
  std::vector<std::string> values;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + "=", 0) == 0) values.push_back(line.substr(key.size() + 1));
  }
  return values;
}

class ProcessesTest : public ::testing::Test {
 protected:
  Sandbox sandbox;
  ProfileScope scope{sandbox};
  std::string c = sandbox.driveRoot('C');

  // A copy of the probe inside drive C: (visible to snapshots), by name.
  std::wstring installProbe(const std::string& name) {
    copyProbeTo(c + "/Programs/" + name);
    return L"C:\\Programs\\" + wide(name);
  }
};

TEST_F(ProcessesTest, ExitCodesReadAsOnWindows) {
  struct Case {
    const wchar_t* arguments;
    DWORD code;
  } cases[] = {
      {L"exit 0", 0},         {L"exit 7", 7},       {L"exit 255", 255},
      {L"crash", 0xC0000005}, {L"abort", 3},        {L"killself", 1},
  };
  // In a sanitizer build the probe's own crash handler would turn the crash
  // into an exit code of 1; let the signal end it as in a plain build.
  setenv("ASAN_OPTIONS", "handle_segv=0:handle_abort=0:detect_leaks=0", 1);
  for (const auto& k : cases) {
    auto p = Process::start(probeCommand(k.arguments));
    ASSERT_TRUE(p) << platform::getLastError();
    ASSERT_EQ(p->wait(30000), WAIT_OBJECT_0);
    EXPECT_EQ(p->exitCode(), k.code) << platform::wideToUtf8(k.arguments);
    EXPECT_EQ(p->wait(0), WAIT_OBJECT_0) << "an ended process stays ended";
  }
}

TEST_F(ProcessesTest, WaitTimesOutWithoutEndingTheProcess) {
  auto p = Process::start(probeCommand(L"sleep 60000"));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->wait(0), WAIT_TIMEOUT);
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(p->wait(150), WAIT_TIMEOUT);
  auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(p->exitCode(), STILL_ACTIVE);
  EXPECT_TRUE(processAlive(p->id()));
  kill(static_cast<pid_t>(p->id()), SIGKILL);
  EXPECT_EQ(p->wait(INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(p->exitCode(), 1u);
}

TEST_F(ProcessesTest, TheChildGetsTheExactCommandLineAndNothingElse) {
  // A descriptor without close-on-exec must still not reach the child.
  int leak = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leak, 0);
  std::string out = sandbox.folder() + "/record.txt";
  std::wstring command = probeCommand(L"record " + wide(out) +
                                      L"   \"a b\"  c\\\"d   模拟器 -path=\"D:\\x y\\\"\t end");
  auto p = Process::start(command, {.show = false});
  ::close(leak);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->wait(30000), WAIT_OBJECT_0);
  EXPECT_EQ(p->exitCode(), 0u);
  std::string text = readHostFile(out);
  EXPECT_EQ(recorded(text, "commandLine"), std::vector<std::string>{platform::wideToUtf8(command)});
  EXPECT_EQ(recorded(text, "arg"),
            (std::vector<std::string>{"record", out, "a b", "c\"d", "模拟器", "-path=D:\\x y\"\t end"}));
  EXPECT_EQ(recorded(text, "show"), std::vector<std::string>{"0"});
  EXPECT_EQ(recorded(text, "fds"), std::vector<std::string>{""});
  EXPECT_EQ(recorded(text, "variableLeft"), std::vector<std::string>{"no"});

  auto shown = Process::start(probeCommand(L"record " + wide(out)));
  ASSERT_TRUE(shown && shown->wait(30000) == WAIT_OBJECT_0);
  EXPECT_EQ(recorded(readHostFile(out), "show"), std::vector<std::string>{"5"});
}

TEST_F(ProcessesTest, StartFailuresCarryWindowsCodes) {
  writeHostFile(c + "/notes.exe", "hello, not a program\n");
  writeHostFile(c + "/empty.exe", "");
  std::string marker = sandbox.folder() + "/shell-ran";
  writeHostFile(c + "/script.exe", "touch " + marker + "\n");  // no #!: not for /bin/sh
  std::filesystem::create_directories(c + "/folder.exe");
  struct Case {
    const wchar_t* command;
    DWORD error;
  } cases[] = {
      {L"C:\\missing.exe", ERROR_FILE_NOT_FOUND},
      {L"\"C:\\no such\\x.exe\" -a", ERROR_FILE_NOT_FOUND},
      {L"Q:\\x.exe", ERROR_PATH_NOT_FOUND},
      {L"C:\\notes.exe", ERROR_BAD_EXE_FORMAT},
      {L"C:\\empty.exe", ERROR_BAD_EXE_FORMAT},
      {L"C:\\script.exe", ERROR_BAD_EXE_FORMAT},
      {L"C:\\folder.exe", ERROR_ACCESS_DENIED},
      {L"", ERROR_FILE_NOT_FOUND},
  };
  for (const auto& k : cases) {
    platform::setLastError(0);
    EXPECT_EQ(Process::start(k.command), nullptr) << platform::wideToUtf8(k.command);
    EXPECT_EQ(platform::getLastError(), k.error) << platform::wideToUtf8(k.command);
  }
  EXPECT_EQ(Process::start(std::wstring(L"C:\\x\0y", 6)), nullptr);
  EXPECT_EQ(platform::getLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(hostFileExists(marker));
}

TEST_F(ProcessesTest, AProgramWithoutExecuteBitOrExtensionStillStarts) {
  std::wstring program = installProbe("tool.exe");
  chmod((c + "/Programs/tool.exe").c_str(), 0644);
  auto p = Process::start(L"\"" + program + L"\" exit 4");
  ASSERT_TRUE(p) << platform::getLastError();
  ASSERT_EQ(p->wait(30000), WAIT_OBJECT_0);
  EXPECT_EQ(p->exitCode(), 4u);
  struct stat st;
  ASSERT_EQ(stat((c + "/Programs/tool.exe").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  auto bare = Process::start(L"C:\\Programs\\tool exit 5");  // ".exe" is implied
  ASSERT_TRUE(bare);
  bare->wait(30000);
  EXPECT_EQ(bare->exitCode(), 5u);
}

TEST_F(ProcessesTest, SnapshotListsOnlySandboxProcessesByFullFileName) {
  std::wstring program = installProbe("bxmultiplayerex.exe");
  auto inside = Process::start(L"\"" + program + L"\" sleep 60000");
  auto outside = Process::start(probeCommand(L"sleep 60000"));
  ASSERT_TRUE(inside && outside);
  // A program removed while it runs keeps its name (the kernel's link says
  // "... (deleted)").
  std::filesystem::remove(c + "/Programs/bxmultiplayerex.exe");

  std::vector<platform::ProcessEntry> list;
  ASSERT_TRUE(platform::snapshotProcesses(list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].pid, inside->id());
  EXPECT_EQ(list[0].parentPid, static_cast<std::uint32_t>(getpid()));
  EXPECT_EQ(list[0].exeName, L"bxmultiplayerex.exe");  // longer than the kernel's 15-character name
  EXPECT_EQ(list[0].hostPath, c + "/Programs/bxmultiplayerex.exe");

  EXPECT_TRUE(platform::endProcessesByName(L"platform-probe", false).empty())
      << "a process outside the sandbox is never ended";
  EXPECT_TRUE(processAlive(outside->id()));
  EXPECT_EQ(platform::endProcessesByName(L"BXMultiPlayerEx.exe", false),
            std::vector<std::uint32_t>{inside->id()});
  EXPECT_FALSE(processAlive(inside->id())) << "ended before the call returns";
  kill(static_cast<pid_t>(outside->id()), SIGKILL);
}

TEST_F(ProcessesTest, SnapshotSkipsZombies) {
  std::wstring program = installProbe("bugreport.exe");
  auto p = Process::start(L"\"" + program + L"\" exit 0");
  ASSERT_TRUE(p);
  for (int i = 0; i < 1000 && processAlive(p->id()); ++i) usleep(5000);
  ASSERT_FALSE(processAlive(p->id()));  // ended, not yet reaped
  std::vector<platform::ProcessEntry> list;
  ASSERT_TRUE(platform::snapshotProcesses(list));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(p->wait(1000), WAIT_OBJECT_0);
  EXPECT_EQ(p->exitCode(), 0u);
}

TEST_F(ProcessesTest, SnapshotWithoutProfileSeesEveryoneInOrder) {
  platform::installMachineProfile({});
  std::vector<platform::ProcessEntry> list;
  ASSERT_TRUE(platform::snapshotProcesses(list));
  ASSERT_GT(list.size(), 1u);
  bool self = false;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) EXPECT_LT(list[i - 1].pid, list[i].pid);
    self = self || list[i].pid == static_cast<std::uint32_t>(getpid());
    EXPECT_FALSE(list[i].exeName.empty());
  }
  EXPECT_TRUE(self);
}

TEST_F(ProcessesTest, TaskkillEndsAProcessAndItsChildrenByName) {
  std::wstring program = installProbe("bxmultiplayerex.exe");
  std::string pids = sandbox.folder() + "/pids.txt";
  auto parent = Process::start(L"\"" + program + L"\" children 2 " + wide(pids));
  ASSERT_TRUE(parent);
  ASSERT_TRUE(waitForFile(pids));
  std::istringstream in(readHostFile(pids));
  std::vector<unsigned> family;
  for (unsigned id; in >> id;) family.push_back(id);
  ASSERT_EQ(family.size(), 3u);

  // The same name outside the sandbox drives must survive.
  std::string stranger = sandbox.folder() + "/elsewhere/bxmultiplayerex.exe";
  copyProbeTo(stranger);
  auto outsider = Process::start(L"\"" + platform::windowsPath(stranger) + L"\" sleep 60000");
  ASSERT_TRUE(outsider);

  auto taskkill = Process::start(L"taskkill /F /IM bxmultiplayerex.exe /T", {.show = false});
  ASSERT_TRUE(taskkill);
  ASSERT_EQ(taskkill->wait(30000), WAIT_OBJECT_0);
  EXPECT_EQ(taskkill->exitCode(), 0u);
  for (unsigned id : family) EXPECT_FALSE(processAlive(id)) << id;
  ASSERT_EQ(parent->wait(10000), WAIT_OBJECT_0);
  EXPECT_EQ(parent->exitCode(), 1u);
  EXPECT_TRUE(processAlive(outsider->id()));

  auto again = Process::start(L"C:\\Windows\\System32\\TASKKILL.EXE /f /im bxmultiplayerex.exe");
  ASSERT_TRUE(again && again->wait(30000) == WAIT_OBJECT_0);
  EXPECT_EQ(again->exitCode(), 128u) << "nothing left to end";
  auto bad = Process::start(L"taskkill.exe /F /X");
  ASSERT_TRUE(bad && bad->wait(30000) == WAIT_OBJECT_0);
  EXPECT_EQ(bad->exitCode(), 1u);
  kill(static_cast<pid_t>(outsider->id()), SIGKILL);
}

std::string runTaskkillCapturing(const std::vector<std::wstring>& args, int& code) {
  std::FILE* out = std::tmpfile();
  code = platform::runTaskkill(args, out);
  std::rewind(out);
  std::string text;
  char buffer[512];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, out)) text.append(buffer, n);
  std::fclose(out);
  return text;
}

TEST_F(ProcessesTest, TaskkillReportsLikeWindows) {
  std::wstring program = installProbe("varedori.exe");
  auto p = Process::start(L"\"" + program + L"\" sleep 60000");
  ASSERT_TRUE(p);
  int code = -1;
  std::string text = runTaskkillCapturing({L"-im", L"VAREDORI.EXE", L"/f"}, code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(text, "SUCCESS: The process \"varedori.exe\" with PID " + std::to_string(p->id()) +
                      " has been terminated.\n");

  auto q = Process::start(L"\"" + program + L"\" sleep 60000");
  text = runTaskkillCapturing({L"/F", L"/T", L"/PID", std::to_wstring(q->id())}, code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(text, "SUCCESS: The process \"varedori.exe\" with PID " + std::to_string(q->id()) +
                      " (child process of PID " + std::to_string(getpid()) +
                      ") has been terminated.\n");

  text = runTaskkillCapturing({L"/F", L"/IM", L"varedori.exe", L"/T"}, code);
  EXPECT_EQ(code, 128);
  EXPECT_EQ(text, "ERROR: The process \"varedori.exe\" not found.\n");

  struct Bad {
    std::vector<std::wstring> args;
    const char* line;
  } bad[] = {
      {{L"/F"}, "ERROR: Invalid syntax. Neither /FI nor /PID nor /IM were specified."},
      {{L"/F", L"/IM"}, "ERROR: Invalid syntax. Value expected for '/IM'."},
      {{L"/PID", L"12x"}, "ERROR: Invalid argument/option - '12x'."},
      {{L"/Q", L"/IM", L"x"}, "ERROR: Invalid argument/option - '/Q'."},
  };
  for (const auto& b : bad) {
    text = runTaskkillCapturing(b.args, code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(text, std::string(b.line) + "\nType \"TASKKILL /?\" for usage.\n");
  }
}

TEST_F(ProcessesTest, SystemProgramNames) {
  struct Case {
    const wchar_t* program;
    const char* name;
  } cases[] = {
      {L"taskkill", "taskkill"},
      {L"TaskKill.EXE", "taskkill"},
      {L"C:\\Windows\\System32\\taskkill.exe", "taskkill"},
      {L"c:/windows/taskkill.exe", "taskkill"},
      {L"C:\\Windows\\SysWOW64\\taskkill.exe", "taskkill"},
      {L"C:\\Games\\taskkill.exe", ""},
      {L"taskkill2.exe", ""},
      {L"C:\\Windows\\System32\\notepad.exe", ""},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(platform::systemProgramName(k.program), k.name) << platform::wideToUtf8(k.program);
  }
}

TEST(ProcessesUnderAProfileWithoutDrives, NothingIsVisible) {
  char folder[] = "/tmp/vireo-nodrives-XXXXXX";
  ASSERT_TRUE(mkdtemp(folder));
  platform::MachineProfile p;
  std::string error;
  ASSERT_TRUE(platform::parseMachineProfile("{}", std::string(folder) + "/p.json", p, error));
  platform::installMachineProfile(p);
  std::vector<platform::ProcessEntry> list;
  EXPECT_TRUE(platform::snapshotProcesses(list));
  EXPECT_TRUE(list.empty());
  platform::installMachineProfile({});
  rmdir(folder);
}

TEST_F(ProcessesTest, AsInvokingUserDropsRootToTheSudoUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  // Everything the child needs must be reachable by that user.
  char folder[] = "/tmp/vireo-asuser-XXXXXX";
  ASSERT_TRUE(mkdtemp(folder));
  chmod(folder, 0777);
  std::string probe = std::string(folder) + "/probe";
  copyProbeTo(probe);
  std::string out = std::string(folder) + "/record.txt";
  std::wstring command = L"\"" + platform::windowsPath(probe) + L"\" record " + wide(out);
  platform::installMachineProfile({});  // the child then runs without a profile
  unsetenv("VIREO_PROFILE");

  setenv("SUDO_UID", "65534", 1);
  setenv("SUDO_GID", "65534", 1);
  auto dropped = Process::start(command, {.asInvokingUser = true});
  ASSERT_TRUE(dropped) << platform::getLastError();
  ASSERT_EQ(dropped->wait(30000), WAIT_OBJECT_0);
  EXPECT_EQ(recorded(readHostFile(out), "uid"), std::vector<std::string>{"65534"});
  auto plain = Process::start(command);
  ASSERT_TRUE(plain && plain->wait(30000) == WAIT_OBJECT_0);
  EXPECT_EQ(recorded(readHostFile(out), "uid"), std::vector<std::string>{"0"});
  unsetenv("SUDO_UID");
  unsetenv("SUDO_GID");
  auto noSudo = Process::start(command, {.asInvokingUser = true});
  ASSERT_TRUE(noSudo && noSudo->wait(30000) == WAIT_OBJECT_0);
  EXPECT_EQ(recorded(readHostFile(out), "uid"), std::vector<std::string>{"0"});
  std::filesystem::remove_all(folder);
}

}  // namespace
