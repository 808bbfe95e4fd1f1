// A child program for the platform tests. Usage: platform-probe COMMAND ...
//   exit N                   exit with code N
//   sleep MS                 sleep, then exit 0
//   crash | abort | killself end by SIGSEGV, SIGABRT or SIGKILL
//   record FILE              write what this process was given to FILE
//   children N FILE          start N sleeping copies of itself, write
//                            "pid child..." to FILE, then sleep (120 s at most)
//   mutex NAME FILE          open the named mutex, write "created" or
//                            "existed" to FILE, then sleep (120 s at most)
//   regwrite KEY COUNT TAG   write COUNT values TAG-i into HKCU\KEY
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/code_pages.h"
#include "platform/command_line.h"
#include "platform/entry.h"
#include "platform/known_folders.h"
#include "platform/named_mutex.h"
#include "platform/processes.h"
#include "platform/registry_store.h"

namespace {

// Written beside, then renamed, so a waiting test never reads half a file.
void writeAtomically(const std::string& path, const std::string& text) {
  std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::rename(temporary.c_str(), path.c_str());
}

std::string openDescriptors() {
  std::string list;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return "?";
  int own = dirfd(dir);
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    int fd = std::atoi(e->d_name);
    if (fd > 2 && fd != own) list += std::to_string(fd) + " ";
  }
  closedir(dir);
  return list;
}

int record(const std::string& file, int argc, char** argv) {
  std::string text = "commandLine=" + platform::wideToUtf8(platform::ownCommandLine()) + "\n";
  text += "argc=" + std::to_string(argc) + "\n";
  for (int i = 1; i < argc; ++i) text += "arg=" + std::string(argv[i]) + "\n";
  const char* show = std::getenv("VIREO_SHOW_WINDOW");
  text += "show=" + std::string(show ? show : "") + "\n";
  text += "uid=" + std::to_string(getuid()) + "\n";
  text += "fds=" + openDescriptors() + "\n";
  const char* inherited = std::getenv(platform::kCommandLineVariable);
  text += "variableLeft=" + std::string(inherited ? "yes" : "no") + "\n";
  writeAtomically(file, text);
  return 0;
}

// Bounded, so that a failed test never leaves a probe behind for long.
[[noreturn]] void sleepUntilEnded() {
  platform::sleepMs(120000);
  std::exit(0);
}

int children(int count, const std::string& file) {
  std::string text = std::to_string(getpid());
  std::vector<std::unique_ptr<platform::Process>> kids;
  for (int i = 0; i < count; ++i) {
    auto child = platform::Process::start(L"\"" + platform::modulePath() + L"\" sleep 60000");
    if (!child) return 4;
    text += " " + std::to_string(child->id());
    kids.push_back(std::move(child));
  }
  writeAtomically(file, text + "\n");
  sleepUntilEnded();
}

int mutex(const std::string& name, const std::string& file) {
  auto m = platform::NamedMutex::create(platform::utf8ToWide(name));
  if (!m) return 5;
  writeAtomically(file, m->existedBefore() ? "existed" : "created");
  sleepUntilEnded();
}

int registryWrites(const std::string& key, int count, const std::string& tag) {
  std::wstring subKey = platform::utf8ToWide(key);
  if (platform::registry::createKey(HKEY_CURRENT_USER, subKey) != ERROR_SUCCESS) return 3;
  for (int i = 0; i < count; ++i) {
    std::wstring name = platform::utf8ToWide(tag + "-" + std::to_string(i));
    if (platform::registry::writeValue(HKEY_CURRENT_USER, subKey, name, name + L" value") !=
        ERROR_SUCCESS) {
      return 3;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  if (argc < 2) return 64;
  std::string command = argv[1];
  auto arg = [&](int i) { return i < argc ? std::string(argv[i]) : std::string(); };
  if (command == "exit") return std::atoi(arg(2).c_str());
  if (command == "sleep") {
    platform::sleepMs(static_cast<std::uint32_t>(std::atoi(arg(2).c_str())));
    return 0;
  }
  if (command == "crash") raise(SIGSEGV);
  if (command == "abort") abort();
  if (command == "killself") raise(SIGKILL);
  if (command == "record") return record(arg(2), argc, argv);
  if (command == "children") return children(std::atoi(arg(2).c_str()), arg(3));
  if (command == "mutex") return mutex(arg(2), arg(3));
  if (command == "regwrite") return registryWrites(arg(2), std::atoi(arg(3).c_str()), arg(4));
  return 64;
}
