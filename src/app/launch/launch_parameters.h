// The launch parameters: the installer is published under many file names,
// each naming the edition, the advertised game's package, the promotion
// (openid) and optionally a game identifier; the command line may carry a
// game to deliver. Reading them is a pure function: it returns what to store
// and the log lines to write, and never fails (a malformed piece keeps its
// default).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace launch {

// From a file name such as vireo9_com.example.game_20391_1.exe.
struct FileNameParameters {
  std::optional<int> edition;  // only when the type names an edition
  std::wstring packageName;    // empty unless more than 3 characters
  std::wstring openid;         // empty unless more than 2 decimal digits
  std::wstring gameId;         // empty unless 1 or more decimal digits
  std::vector<std::wstring> logLines;
};

// The game of a command line such as name=Game X|package=com.example.x|apkurl=...
struct LaunchGameItem {
  std::wstring apkUrl;       // never empty
  std::wstring appName;      // possibly empty
  std::wstring packageName;  // possibly empty
};

struct CommandLineParameters {
  std::optional<LaunchGameItem> gameItem;
  std::vector<std::wstring> logLines;
};

// `modulePath` is the running executable's full path.
FileNameParameters readFileNameParameters(const std::wstring& modulePath);

// `commandLine` is the text after the program name; null reads nothing.
CommandLineParameters readCommandLineParameters(const wchar_t* commandLine);

}  // namespace launch
