#include "platform/entry.h"

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "platform/command_line.h"
#include "platform/machine_profile.h"
#include "platform/system_programs.h"

namespace platform {

void initialize(int argc, char** argv) {
  // Narrow texts inside the system are UTF-8 (or the ANSI code page, which is
  // always converted explicitly): a narrow "%s" in a wide log format is then
  // decoded as UTF-8 instead of stopping at the first byte above 127.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  recordCommandLine(argc, argv);
  loadMachineProfileFromEnvironment();
  if (const char* name = std::getenv(kSystemProgramVariable)) {
    std::string program = name;
    unsetenv(kSystemProgramVariable);
    int code = runSystemProgram(program, ownCommandLine());
    if (code == -1) std::fprintf(stderr, "vireo: unknown system program %s\n", program.c_str());
    std::fflush(nullptr);
    _exit(code == -1 ? 127 : code);
  }
}

void exitProcess(int code) {
  std::fflush(nullptr);
  _exit(code);
}

}  // namespace platform
