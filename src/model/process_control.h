// Starting and ending the emulator's processes, shared by the silent
// installation and the model's process control.
#pragma once

#include <string>

// Starts the program without this installer's elevated rights: when the
// installer runs as root through sudo or pkexec, as the invoking user;
// otherwise as it is. The command line is the quoted program, then a space
// and the arguments when there are any; one of 1,023 characters or more is
// refused. 0 on success, -1 on failure (the last error says why).
int launchWithShellToken(const std::wstring& program, const std::wstring& arguments);

// "taskkill /F /IM <name> /T", hidden, waiting up to the "taskkillWait" time
// (2 s). Failures are only logged.
void endProcessByName(const std::wstring& exeName);
