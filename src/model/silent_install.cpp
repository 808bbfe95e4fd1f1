// The silent installation on installThread: end the running emulator, run
// the full installer with its command line, wait for it, customise the
// installed emulator and hand the end of the installation to the UI thread.
#include "model/silent_install.h"

#include <algorithm>
#include <map>

#include "config/config_imp.h"
#include "config/installer_contract.h"
#include "model/bx_downloader_model.h"
#include "model/process_control.h"
#include "platform/last_error.h"
#include "platform/machine_profile.h"
#include "platform/processes.h"
#include "report/event_reports.h"
#include "report/event_vocabulary.h"
#include "utility/disk.h"
#include "utility/log.h"
#include "utility/ufile.h"
#include "utility/ustring.h"

namespace {

// The wait is cut into slices so that a stop request (teardown) is noticed.
constexpr DWORD kWaitSliceMs = 100;

// Waits for the process up to `timeoutMs`; a stop request ends the wait
// early with WAIT_TIMEOUT and sets `stopped`.
DWORD waitForInstaller(platform::Process& process, DWORD timeoutMs,
                       const std::function<bool()>& stopRequested, bool& stopped) {
  if (!stopRequested) return process.wait(timeoutMs);
  for (DWORD waited = 0;;) {
    DWORD slice = std::min(kWaitSliceMs, timeoutMs - waited);
    DWORD result = process.wait(slice);
    if (result != WAIT_TIMEOUT) return result;
    waited += slice;
    if (waited >= timeoutMs) return WAIT_TIMEOUT;
    if (stopRequested()) {
      stopped = true;
      return WAIT_TIMEOUT;
    }
  }
}

void reportInstallFailure(const std::wstring& reason) {
  report::reportFailure(report::key::kInstallFail, reason);
}

// Replaces the cache record with the installer's path in the ANSI code page
// (no terminator), so that a later run finds the installer again.
void rewriteCacheRecord(const std::wstring& installerPath) {
  std::wstring record = utility::ufile::getAppDataDir() + contract::kCacheRecord;
  std::wstring folder = utility::ufile::getParentDir(record);
  if (!utility::ufile::isExist(folder)) utility::ufile::makeDir(folder);
  utility::ufile::removeFile(record);
  utility::ufile::File file;
  if (!file.create(record)) {
    VLOG(L"create cache record failed, lastError = %d", static_cast<int>(platform::getLastError()));
    return;
  }
  std::string ansi = utility::ustring::wideToAnsi(installerPath);
  file.write(ansi.data(), static_cast<std::uint32_t>(ansi.size()));
  file.close();
}

}  // namespace

bool install_player(const std::wstring& installerPath, const std::wstring& parameters,
                    const std::function<bool()>& stopRequested) {
  std::wstring commandLine = L"\"" + installerPath + L"\"";
  if (!parameters.empty()) commandLine += L" " + parameters;

  platform::StartOptions options;
  options.show = true;
  std::unique_ptr<platform::Process> process = platform::Process::start(commandLine, options);
  if (!process) {
    std::wstring reason = report::runErrorReason(platform::getLastError());
    reportInstallFailure(reason);
    VLOG(L"install player error : %ls", reason.c_str());
    return false;
  }

  VLOG(L"install player wait");
  bool stopped = false;
  DWORD waitMs = platform::scaledWaitMs("installerWait", contract::kFullInstallerWaitMs);
  DWORD result = waitForInstaller(*process, waitMs, stopRequested, stopped);
  if (stopped) {
    VLOG(L"install player wait given up: stopping");
  } else if (result == WAIT_OBJECT_0) {
    VLOG(L"install player complete");
  } else if (result == WAIT_TIMEOUT) {
    reportInstallFailure(report::reason::kRunErrorTimeout);
    VLOG(L"install player timeout");
  } else if (result == WAIT_FAILED) {
    reportInstallFailure(report::reason::kRunErrorWaitFailed);
    VLOG(L"install player failed");
  } else {
    reportInstallFailure(report::reason::kRunErrorWaitOther);
    VLOG(L"install player unknow error");
  }
  // A process that outlived the wait keeps running; its IPC messages still
  // arrive.
  return true;
}

void killPlayerProcesses() {
  std::map<std::wstring, DWORD> running;
  helper::disk::getProcessMap(running);
  for (const wchar_t* name : contract::kEmulatorProcesses) {
    if (running.count(name)) endProcessByName(name);
  }
}

void BXDownloaderModel::startInstall() {
  state_ = kStateInstalling;
  installLaunched_ = true;
  installThread_.start(new MemberFuncRunable(this, &BXDownloaderModel::_threadInstallPlayer));
}

std::wstring BXDownloaderModel::installParameters() const {
  return std::wstring(contract::kSilentParameters) + openid + contract::kPathParameter + L"\"" +
         getInstallPath() + L"\"";
}

void BXDownloaderModel::_threadInstallPlayer() {
  std::wstring parameters = installParameters();
  VLOG(L"install player param: %ls", parameters.c_str());
  std::wstring path =
      ConfigImp::getInstance()->getDownloadFilePath(getInstallPath(), getPlayerAddress().version);

  killPlayerProcesses();
  report::reportEvent(report::key::kStartInstall);
  if (!utility::ufile::isExist(path)) reportInstallFailure(report::reason::kNoPath);
  rewriteCacheRecord(path);

  bool started = install_player(path, parameters, [this] { return installThread_.isStopping(); });
  // Stopped at teardown: the thread ends here, as a terminated one would.
  if (installThread_.isStopping()) return;

  VLOG(L"start save config");
  applyGameConfig();

  postToUi([this, started] {
    state_ = kStateInstalled;
    notify.onInstallFinished(started);
  });
}
