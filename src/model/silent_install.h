// The silent installation's free functions: running the full installer and
// ending the emulator's processes before it runs. Both run on installThread
// (BXDownloaderModel::_threadInstallPlayer).
#pragma once

#include <functional>
#include <string>

// Starts the full installer with the command line
//   "<installerPath>" <parameters>
// and waits for its process up to the "installerWait" time (180 s). A start
// failure is reported as "downloader_install_fail" "runerror_<code>" and
// gives false; a time-out or a failed wait is reported and still gives true
// (the process had started; its own verdict comes through window IPC).
// `stopRequested`, when given, is asked during the wait: once it holds the
// wait is given up (the thread is being stopped), and the result is true.
bool install_player(const std::wstring& installerPath, const std::wstring& parameters,
                    const std::function<bool()>& stopRequested = {});

// Ends every running emulator process, in the order of
// contract::kEmulatorProcesses, with "taskkill" (one snapshot first).
void killPlayerProcesses();
