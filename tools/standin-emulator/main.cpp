// standin-emulator: plays the installed Vireo emulator (installed as
// varedori.exe). Each start appends one JSON line to "varedori-starts.txt"
// in its own folder:
//
//   {"commandLine": <the exact command-line text>, "arguments": <what follows
//    the program name>, "uid": <user id it runs as>, "show": <show command
//    given by the starting process, -1 when none was>, "pid": <process id>}
//
// Then it keeps running, as the real emulator does, until it is ended: it
// sleeps in sigwait and exits 0 on SIGTERM, SIGINT or SIGHUP.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/entry.h"
#include "record_line.h"

namespace {

// The show command the starting process passed (platform/processes.cpp sets
// it for every child, as STARTUPINFO's wShowWindow does on Windows).
long long showCommand() {
  const char* show = std::getenv("VIREO_SHOW_WINDOW");
  if (!show || !*show) return -1;
  char* end = nullptr;
  long value = std::strtol(show, &end, 10);
  return *end ? -1 : value;
}

}  // namespace

int main(int argc, char** argv) {
  // Blocked before anything else, so that an end request arriving at any
  // point is taken by sigwait below and the exit is clean.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  sigaddset(&endSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

  platform::initialize(argc, argv);
  standin::RecordLine()
      .add("commandLine", standin::commandLineUtf8())
      .add("arguments", standin::argumentsUtf8())
      .add("uid", static_cast<long long>(getuid()))
      .add("show", showCommand())
      .add("pid", static_cast<long long>(getpid()))
      .appendTo(standin::ownHostFolder() + "/varedori-starts.txt");

  int received = 0;
  while (sigwait(&endSignals, &received) != 0) {
  }
  return 0;
}
