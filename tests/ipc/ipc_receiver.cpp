// A receiving program for the IPC tests, and the start-up and teardown shape
// of a program that receives window messages:
//
//   platform::initialize -> UiDispatcher::create -> WindowIPC::create(handler)
//   -> platform::uiLoop().run() (until quit, SIGTERM or SIGINT) -> teardown
//
// It prints "ready" once its endpoint exists, one line per message that
// reaches its handler ("message M wParam W lParam L"), and "teardown" after
// the loop has returned, then exits 0.
//
//   ipc-receiver [--class NAME] [--quit-on MSG] [--raise-before-run] [--idle-worker]
//
// --raise-before-run sends itself SIGTERM before the loop starts;
// --idle-worker keeps a worker thread blocked on its wake event meanwhile.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/tasks/runable.h"
#include "app/tasks/ui_dispatcher.h"
#include "app/tasks/worker_thread.h"
#include "platform/code_pages.h"
#include "platform/entry.h"
#include "platform/event_loop.h"
#include "utility/window_ipc.h"

namespace {

class PrintingHandler : public utility::IWindowIPCHandle {
 public:
  explicit PrintingHandler(long quitOn) : quitOn_(quitOn) {}
  int onHandleWindowIPC(unsigned int message, WPARAM wParam, LPARAM lParam) override {
    std::printf("message %u wParam %lld lParam %lld\n", message, static_cast<long long>(wParam),
                static_cast<long long>(lParam));
    std::fflush(stdout);
    if (quitOn_ >= 0 && message == static_cast<unsigned long>(quitOn_)) platform::postQuitMessage(0);
    return 0;
  }

 private:
  long quitOn_;
};

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  std::string className = "{2266E930-7040-4A6B-B7C8-E44663785cdd}";
  long quitOn = -1;
  bool raiseBeforeRun = false, idleWorker = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--class") && i + 1 < argc) {
      className = argv[++i];
    } else if (!std::strcmp(argv[i], "--quit-on") && i + 1 < argc) {
      quitOn = std::strtol(argv[++i], nullptr, 0);
    } else if (!std::strcmp(argv[i], "--raise-before-run")) {
      raiseBeforeRun = true;
    } else if (!std::strcmp(argv[i], "--idle-worker")) {
      idleWorker = true;
    } else {
      std::fprintf(stderr, "ipc-receiver: unknown argument %s\n", argv[i]);
      return 2;
    }
  }

  UiDispatcher::create();
  PrintingHandler handler(quitOn);
  utility::WindowIPC ipc;
  if (!ipc.create(platform::utf8ToWide(className), &handler)) {
    std::printf("create failed\n");
    return 1;
  }
  WorkerThread worker;
  if (idleWorker) {
    worker.start(new FunctionRunable([&worker] {
      while (!worker.isStopping()) worker.waitWake(INFINITE);
    }));
  }
  std::printf("ready\n");
  std::fflush(stdout);
  if (raiseBeforeRun) raise(SIGTERM);

  platform::uiLoop().run();

  bool stopped = worker.stop(1000);
  std::printf("teardown%s\n", stopped ? "" : " (worker let go)");
  std::fflush(stdout);
  return 0;
}
