// Windows system programs the installer starts by name ("taskkill"). Linux
// has none of them, so this executable plays them: starting one re-executes
// the running program with kSystemProgramVariable set, and initialize hands
// control to the program's implementation.
#pragma once

#include <string>

namespace platform {

constexpr const char* kSystemProgramVariable = "VIREO_SYSTEM_PROGRAM";

// The system program a command line's program part names ("taskkill",
// "taskkill.exe", "C:\Windows\System32\taskkill.exe" -> "taskkill"), or empty.
std::string systemProgramName(const std::wstring& program);

// Runs the named program with its command line; returns its exit code, or -1
// when the name is unknown.
int runSystemProgram(const std::string& name, const std::wstring& commandLine);

}  // namespace platform
