// The UI thread's event loop. One loop object serves the whole process and is
// reached through platform::uiLoop(); the thread that runs it is the UI
// thread. Code above the platform layer sees it in Windows shapes:
//
// - message windows: targets on the UI thread to which (message, wParam,
//   lParam) can be posted from any thread (PostMessage); their procedure runs
//   on the loop's thread, in posting order (one queue for the whole loop, so
//   the messages of each posting thread keep their order);
// - timers of a window (SetTimer / KillTimer) that deliver WM_TIMER with the
//   timer's identifier in wParam, repeating until killed;
// - descriptors watched for input (for the platform's own endpoints);
// - quit with a code (PostQuitMessage), and run until quit.
//
// SIGTERM and SIGINT end the process's loop as the quit message does (code 0),
// so that the teardown after run() still happens; a signal that arrives before
// run() makes run() return at once. After the first such signal the default
// action is back, so a second one ends the process.
//
// Two implementations can stand behind the interface: the plain loop (poll on
// an eventfd and the watched descriptors) for tests and headless runs, and a
// GTK main loop for real windows, installed with installUiLoop before first use.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/win_constants.h"

namespace platform {

// A message window's handle; 0 is never a window.
using WindowId = std::uint64_t;
// A window's procedure. Posted messages ignore what it returns.
using WindowProcedure = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;
// A timer's identifier, chosen by the window's owner (nonzero).
using TimerId = std::uintptr_t;
using WatchId = std::uint64_t;

// PostMessage's error for a window that does not exist.
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

class EventLoop {
 public:
  virtual ~EventLoop() = default;

  // Creates a message window whose procedure runs on the loop's thread.
  // Never returns 0.
  virtual WindowId createWindow(WindowProcedure procedure) = 0;
  // Destroys it: its timers stop and messages still queued for it are dropped.
  // A procedure may destroy its own window while it runs.
  virtual void destroyWindow(WindowId window) = 0;
  // PostMessage: false (ERROR_INVALID_WINDOW_HANDLE) when the window does not
  // exist. Callable from any thread; never waits for the loop.
  virtual bool postMessage(WindowId window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

  // SetTimer: WM_TIMER (wParam = id, lParam = 0) reaches the window every
  // `intervalMs` (at least 10 ms, as on Windows) until killTimer. Setting an
  // identifier the window already uses restarts that timer with the new
  // interval. False when the window does not exist.
  virtual bool setTimer(WindowId window, TimerId id, UINT intervalMs) = 0;
  // KillTimer: false when the window has no such timer.
  virtual bool killTimer(WindowId window, TimerId id) = 0;

  // Calls `onReadable` on the loop's thread whenever `fd` has input (or an
  // error or hang-up) until unwatch. The callback may unwatch itself.
  virtual WatchId watchReadable(int fd, std::function<void()> onReadable) = 0;
  virtual void unwatch(WatchId watch) = 0;

  // Ends run() with the code after the message being handled now; messages
  // still queued stay queued (they are not delivered). Any thread.
  virtual void quit(int code) = 0;
  // Runs on the calling thread until quit (or SIGTERM / SIGINT for the
  // process's loop) and returns the code. An idle loop sleeps.
  // A nested call returns -1 at once.
  virtual int run() = 0;
  // True on the thread that runs (or last ran) the loop.
  virtual bool isLoopThread() const = 0;
};

// The process's UI loop; creates the plain loop on first use unless
// installUiLoop put another one in place. Never destroyed, so that threads
// still posting while the process ends find it alive.
EventLoop& uiLoop();

// Puts a loop in place (the GTK loop); only before the first uiLoop() call.
// False when a loop is in place already.
bool installUiLoop(std::unique_ptr<EventLoop> loop);

// A plain loop of its own, for tests of the loop itself. With
// `handleTerminationSignals`, SIGTERM and SIGINT end it (the process's loop
// is made so).
std::unique_ptr<EventLoop> makePlainEventLoop(bool handleTerminationSignals = false);

// PostQuitMessage for the process's UI loop.
inline void postQuitMessage(int code) { uiLoop().quit(code); }

}  // namespace platform
