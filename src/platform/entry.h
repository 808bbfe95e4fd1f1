// The platform's part of a program's start. Every program of the project
// (the installer, the stand-ins, the test programs) calls initialize first.
#pragma once

namespace platform {

// Records the command line, applies the machine profile (exit code 2 when it
// is refused) and, when this process was started to play a Windows system
// program (see system_programs.h), runs it and exits with its code.
void initialize(int argc, char** argv);

// Ends the process at once with the code, as ExitProcess does: other threads
// stop where they are and no static destructor runs.
[[noreturn]] void exitProcess(int code);

}  // namespace platform
