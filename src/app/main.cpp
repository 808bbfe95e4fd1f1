#include "app/startup.h"
#include "platform/command_line.h"
#include "platform/entry.h"

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  std::wstring commandLine = platform::argumentsAfterProgram(platform::ownCommandLine());
  int code = wWinMain(commandLine.c_str());
  // Like ExitProcess: worker threads that were let go at teardown stop where
  // they are, and no static object is destroyed under them.
  platform::exitProcess(code);
}
