// The model's control of the emulator's processes: the environment check at
// start (network, running emulator), ending the emulator when the user
// continues anyway, and starting it after the installation without the
// installer's elevated rights.
#include "model/process_control.h"

#include <atomic>
#include <map>

#include "config/installer_contract.h"
#include "model/bx_downloader_model.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/machine_profile.h"
#include "platform/os_facts.h"
#include "platform/processes.h"
#include "report/event_reports.h"
#include "report/event_vocabulary.h"
#include "report/zk_reporter.h"
#include "utility/log.h"
#include "utility/uprocess.h"

namespace {

constexpr DWORD kTaskkillWaitMs = 2000;
constexpr DWORD kEnvironmentCheckMs = 1000;
constexpr DWORD kNoNetworkRetryMs = 1000;
// CreateProcessWithTokenW's buffer, terminator included.
constexpr size_t kShellCommandLineUnits = 1023;

constexpr const wchar_t* kEmulator = L"varedori.exe";
constexpr const wchar_t* kMultiPlayerEx = L"bxmultiplayerex.exe";

// Checks made by this process; a repeated one that finds no network pauses
// before it answers.
std::atomic<int> environmentChecks{0};

// The Windows 8 and later path: GetVersionExW reports 6.2 there, Vista and 7
// report 6.0 and 6.1.
bool reportsWindows8OrLater() {
  platform::WindowsVersion version = platform::reportedWindowsVersion();
  return version.major >= 6 && version.minor >= 2;
}

void postDefault(std::function<void()> task) {
  UiDispatcher::postDefault(new FunctionRunable(std::move(task)));
}

}  // namespace

int launchWithShellToken(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  if (commandLine.size() >= kShellCommandLineUnits) {
    platform::setLastError(ERROR_INSUFFICIENT_BUFFER);
    return -1;
  }
  platform::StartOptions options;
  options.asInvokingUser = true;
  std::unique_ptr<platform::Process> process = platform::Process::start(commandLine, options);
  // Closing the handle leaves the emulator running.
  return process ? 0 : -1;
}

void endProcessByName(const std::wstring& exeName) {
  utility::process::execute(L"taskkill", L"/F /IM " + exeName + L" /T", false,
                            platform::scaledWaitMs("taskkillWait", kTaskkillWaitMs));
}

void BXDownloaderModel::runPlayer(const std::wstring& arguments) {
  std::wstring program = getInstallPath() + L"\\" + contract::kEmulatorExe;
  if (reportsWindows8OrLater()) {
    VLOG(L"%ls", arguments.c_str());
    if (launchWithShellToken(program, arguments) == -1) {
      VLOG(L"runPlayer no amdin error %d", static_cast<int>(platform::getLastError()));
      utility::process::shell(program, arguments, true, false);
    }
  } else {
    utility::process::shell(program, arguments, true, false);
  }
  report::reportEvent(report::key::kCallZud, report::Flush::Yes);
}

void BXDownloaderModel::startEnvironmentCheck() {
  checkThread_.start(new MemberFuncRunable1(this, &BXDownloaderModel::_threadCheckMainExe, false));
}

void BXDownloaderModel::restartEnvironmentCheck() {
  checkThread_.stop(INFINITE);
  startEnvironmentCheck();
}

void BXDownloaderModel::_threadCheckMainExe(bool endRunningEmulator) {
  int checks = ++environmentChecks;
  if (!platform::isConnected()) {
    VLOG(L"no net!!");
    if (checks > 1) checkThread_.waitWake(platform::scaledWaitMs("noNetworkRetry", kNoNetworkRetryMs));
    if (checkThread_.isStopping()) return;
    postDefault([this] { notify.onNetworkUnavailable(); });
    return;
  }

  std::uint32_t start = platform::tickCount();
  std::map<std::wstring, DWORD> processes;
  utility::process::getProcessRunningMac(processes);
  bool running = false;
  if (processes.count(kEmulator)) {
    VLOG(L"varedori.exe running");
    running = true;
    if (endRunningEmulator) endProcessByName(kEmulator);
  }
  if (processes.count(kMultiPlayerEx)) {
    running = true;
    if (endRunningEmulator) endProcessByName(kMultiPlayerEx);
  }
  if (endRunningEmulator) return;

  // The set-up page shows its "preparing" line for at least a second.
  std::uint32_t minimumMs = platform::scaledWaitMs("environmentCheck", kEnvironmentCheckMs);
  std::uint32_t elapsed = platform::tickCount() - start;
  if (!running && elapsed < minimumMs) checkThread_.waitWake(minimumMs - elapsed);
  if (checkThread_.isStopping()) return;
  postDefault([this, running] { notify.onEnvironmentResult(running); });
}

void BXDownloaderModel::killMainExe() {
  std::map<std::wstring, DWORD> processes;
  utility::process::getProcessRunningMac(processes);
  if (processes.count(kEmulator)) {
    VLOG(L"varedori.exe running");
    endProcessByName(kEmulator);
  }
  if (processes.count(kMultiPlayerEx)) {
    VLOG(L"bxmultiplayerex.exe running");
    endProcessByName(kMultiPlayerEx);
  }
}
