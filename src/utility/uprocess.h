// Child-process helpers (utility::process).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/processes.h"
#include "platform/win_constants.h"

namespace utility::process {

using ProcessHandle = std::unique_ptr<platform::Process>;  // empty: none

bool shell(const std::wstring& file, const std::wstring& parameters, bool runAs, bool show);
ProcessHandle create(const std::wstring& file, const std::wstring& parameters, bool show,
                     DWORD* processId = nullptr);
bool execute(const std::wstring& file, const std::wstring& parameters, bool show,
             DWORD timeoutMs);
void getProcessRunningMac(std::map<std::wstring, DWORD>& processes);

}  // namespace utility::process
