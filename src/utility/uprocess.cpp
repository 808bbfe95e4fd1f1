#include "utility/uprocess.h"

#include "platform/last_error.h"
#include "utility/log.h"

namespace utility::process {
namespace {

// The command line CreateProcessW receives: the file in double quotes, then
// one space and the parameters when there are any.
std::wstring commandLineFor(const std::wstring& file, const std::wstring& parameters) {
  std::wstring line = L"\"" + file + L"\"";
  if (!parameters.empty()) line += L" " + parameters;
  return line;
}

int lastErrorCode() { return static_cast<int>(platform::getLastError()); }

}  // namespace

bool shell(const std::wstring& file, const std::wstring& parameters, bool runAs, bool show) {
  VLOG(L"shell filename = [%ls], param = [%ls], runas = %d, show = %d", file.c_str(),
       parameters.c_str(), runAs ? 1 : 0, show ? 1 : 0);
  // The "runas" verb asks for elevation through a consent prompt; this
  // system has no silent counterpart, so the program starts with the
  // installer's own rights either way.
  platform::StartOptions options;
  options.show = show;
  auto started = platform::Process::start(commandLineFor(file, parameters), options);
  VLOG(L"shellEx ret . lastError = %d", lastErrorCode());
  if (!started) {
    VLOG(L"shellEx failed!!! lastError = %d", lastErrorCode());
    return false;
  }
  return true;
}

ProcessHandle create(const std::wstring& file, const std::wstring& parameters, bool show,
                     DWORD* processId) {
  VLOG(L"createProcess filename = [%ls], param = [%ls], show = %d", file.c_str(),
       parameters.c_str(), show ? 1 : 0);
  platform::StartOptions options;
  options.show = show;
  ProcessHandle process = platform::Process::start(commandLineFor(file, parameters), options);
  if (!process) {
    VLOG(L"createProcess failed!!! lastError = %d", lastErrorCode());
    return nullptr;
  }
  if (processId) *processId = process->id();
  return process;
}

bool execute(const std::wstring& file, const std::wstring& parameters, bool show,
             DWORD timeoutMs) {
  ProcessHandle process = create(file, parameters, show);
  if (!process) {
    VLOG(L"execute failed!!! last error = %d", lastErrorCode());
    return false;
  }
  if (timeoutMs == 0) return true;
  DWORD result = process->wait(timeoutMs);
  if (result == WAIT_OBJECT_0) {
    int exitCode = static_cast<int>(process->exitCode());
    VLOG(L"execute exitcode = %d lastError = %d", exitCode, lastErrorCode());
    return exitCode == 0;
  }
  if (result == WAIT_TIMEOUT) {
    VLOG(L"execute timeout!!!");
  } else {
    VLOG(L"execute failed!!! lastError = %d", lastErrorCode());
  }
  return false;  // the handle closes here; a process that timed out keeps running
}

void getProcessRunningMac(std::map<std::wstring, DWORD>& processes) {
  std::vector<platform::ProcessEntry> snapshot;
  if (!platform::snapshotProcesses(snapshot)) {
    VLOG(L"create tool help snapshot failed! err = %d", lastErrorCode());
    return;
  }
  if (snapshot.empty()) {
    platform::setLastError(ERROR_NO_MORE_FILES);
    VLOG(L"process32First failed! err = %d", lastErrorCode());
    return;
  }
  for (const auto& entry : snapshot) processes.emplace(entry.exeName, entry.pid);
}

}  // namespace utility::process
