// The installer's start and end, in the role of the Windows entry point.
#pragma once

// Runs the installer on the calling (UI) thread with the command-line text
// after the program name, and returns the process's exit code: 0 on every
// path.
int wWinMain(const wchar_t* commandLine);
