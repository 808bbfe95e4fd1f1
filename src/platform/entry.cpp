#include "platform/entry.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/command_line.h"
#include "platform/machine_profile.h"
#include "platform/system_programs.h"

namespace platform {

void initialize(int argc, char** argv) {
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
