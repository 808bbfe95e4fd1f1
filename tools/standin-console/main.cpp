// standin-console: plays the emulator's console program (installed as
// bxconsole.exe beside varedori.exe). Every start appends one JSON line to
// "bxconsole-commands.txt" in its own folder:
//
//   {"commandLine": <the exact command-line text>, "arguments": <what follows
//    the program name>}
//
// Commands (arguments split by the Windows rules):
//
//   installapk --index 0 --filename "<package path>" [--wait] [--hide]
//       copies the package into the first instance's data,
//       <own folder>\vms\apps\<package file name>; exit 0, or 1 when the
//       package is missing or cannot be copied
//   modify --index 0 --resolution R
//       takes note of the resolution (the record line); exit 0
//
// Exit code 2 for anything else (unknown command, missing option, an
// instance other than 0).
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/code_pages.h"
#include "platform/command_line.h"
#include "platform/drives.h"
#include "platform/entry.h"
#include "record_line.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadCommand = 2;

struct Command {
  std::wstring verb;
  std::wstring index, fileName, resolution;
  bool wait = false, hide = false;
};

int badCommand(const char* why) {
  std::fprintf(stderr, "bxconsole: %s\n", why);
  return kBadCommand;
}

bool parseCommand(const std::vector<std::wstring>& args, Command& command, std::string& error) {
  if (args.size() < 2) return error = "no command", false;
  command.verb = args[1];
  for (size_t i = 2; i < args.size(); ++i) {
    const std::wstring& option = args[i];
    std::wstring* value = option == L"--index"        ? &command.index
                          : option == L"--filename"   ? &command.fileName
                          : option == L"--resolution" ? &command.resolution
                                                      : nullptr;
    if (value) {
      if (i + 1 >= args.size()) return error = "an option lacks its value", false;
      *value = args[++i];
    } else if (option == L"--wait") {
      command.wait = true;
    } else if (option == L"--hide") {
      command.hide = true;
    } else {
      return error = "unknown option " + platform::wideToUtf8(option), false;
    }
  }
  if (command.index != L"0") return error = "only instance 0 exists", false;
  return true;
}

// The file name of a Windows path (after its last separator).
std::wstring fileNameOf(const std::wstring& path) {
  size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

int installPackage(const Command& command) {
  std::wstring name = fileNameOf(command.fileName);
  if (name.empty() || name == L"." || name == L"..") return badCommand("no package file name");
  std::string source = platform::hostPath(command.fileName);
  std::error_code error;
  if (source.empty() || !fs::is_regular_file(source, error)) {
    std::fprintf(stderr, "bxconsole: no package %s\n", platform::wideToUtf8(command.fileName).c_str());
    return kFailed;
  }
  fs::path apps = fs::path(standin::ownHostFolder()) / "vms" / "apps";
  fs::path target = apps / platform::wideToUtf8(name);
  fs::path partial = apps / ("." + platform::wideToUtf8(name) + ".part");
  fs::create_directories(apps, error);
  if (!error) fs::copy_file(source, partial, fs::copy_options::overwrite_existing, error);
  if (!error) fs::rename(partial, target, error);
  if (error) {
    fs::remove(partial, error);
    std::fprintf(stderr, "bxconsole: cannot install %s\n", target.c_str());
    return kFailed;
  }
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  standin::RecordLine()
      .add("commandLine", standin::commandLineUtf8())
      .add("arguments", standin::argumentsUtf8())
      .appendTo(standin::ownHostFolder() + "/bxconsole-commands.txt");

  Command command;
  std::string error;
  if (!parseCommand(platform::splitCommandLine(platform::ownCommandLine()), command, error)) {
    return badCommand(error.c_str());
  }
  if (command.verb == L"installapk") {
    if (command.fileName.empty()) return badCommand("installapk needs --filename");
    return installPackage(command);
  }
  if (command.verb == L"modify") {
    if (command.resolution.empty()) return badCommand("modify needs --resolution");
    return kDone;
  }
  return badCommand("unknown command");
}
