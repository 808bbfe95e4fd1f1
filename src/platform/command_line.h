// Windows command lines: a program reads its whole command line as one text,
// and argv is split from it by the Windows rules (CommandLineToArgvW).
#pragma once

#include <string>
#include <vector>

namespace platform {

// Splits by the Windows rules: the program name ends at the closing quote or
// the first blank; later arguments follow the backslash-and-quote rules.
std::vector<std::wstring> splitCommandLine(const std::wstring& commandLine);

// Quotes one argument so that splitCommandLine gives it back unchanged.
std::wstring quoteArgument(const std::wstring& argument);

// What follows the program name (and the blanks after it): the text that
// wWinMain receives.
std::wstring argumentsAfterProgram(const std::wstring& commandLine);

// This process's whole command line: the exact text the starting process gave
// (when a Windows-style parent passed it along and it matches argv), or argv
// reassembled the way Windows would pass it.
const std::wstring& ownCommandLine();

// The environment variable that carries the exact text to a child.
constexpr const char* kCommandLineVariable = "VIREO_COMMAND_LINE";

// Records argv; called by platform::initialize.
void recordCommandLine(int argc, char** argv);

}  // namespace platform
