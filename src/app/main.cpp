#include "app/startup.h"
#include "platform/command_line.h"
#include "platform/entry.h"

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  std::wstring commandLine = platform::argumentsAfterProgram(platform::ownCommandLine());
  return wWinMain(commandLine.c_str());
}
