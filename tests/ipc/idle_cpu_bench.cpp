// Prints what an idle UI loop, an idle IPC endpoint and an idle worker thread
// (blocked on its wake event) cost in CPU time, and how fast tasks travel
// from a worker thread to the UI thread.
//
//   build-c/bin/ipc-idle-bench [seconds]
//
// Idle cost: starts ipc-receiver --idle-worker, waits a second after it is
// ready, then reads utime+stime of the child from /proc/<pid>/stat before and
// after the measured seconds of idleness (clock ticks of 1/CLK_TCK s), and
// the context switches of all its threads (each wake-up is one).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/tasks/runable.h"
#include "app/tasks/ui_dispatcher.h"
#include "ipc/child_process.h"
#include "platform/entry.h"
#include "platform/event_loop.h"

namespace {

// utime + stime of a process, in clock ticks; -1 when unreadable.
long long cpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) utime = std::atoll(field.c_str());
    if (index == 15) stime = std::atoll(field.c_str());
  }
  return utime + stime;
}

// Context switches of all threads of a process: every wake-up counts one.
long long contextSwitches(pid_t pid) {
  long long total = 0;
  std::error_code ignored;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored)) {
    std::ifstream in(task.path() / "status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::atoll(line.substr(line.find(':') + 1).c_str());
      }
    }
  }
  return total;
}

std::string threadCount(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Threads:", 0) == 0) return line.substr(8);
  }
  return "?";
}

int measureIdle(int seconds) {
  std::string name = "idle-bench-" + std::to_string(getpid());
  vireo::testing::ChildProcess receiver({vireo::testing::binPath("ipc-receiver"), "--class", name, "--idle-worker"});
  auto ready = receiver.readLine(10000);
  if (!ready || *ready != "ready") {
    std::fprintf(stderr, "ipc-receiver did not start\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  long long before = cpuTicks(receiver.pid());
  long long switchesBefore = contextSwitches(receiver.pid());
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  long long after = cpuTicks(receiver.pid());
  long long switchesAfter = contextSwitches(receiver.pid());
  long tick = sysconf(_SC_CLK_TCK);
  std::printf("idle loop + IPC endpoint + worker blocked on its wake event (pid %d, threads%s):\n",
              static_cast<int>(receiver.pid()), threadCount(receiver.pid()).c_str());
  std::printf("  utime+stime over %d s of idleness: %lld ticks (%lld ms; 1 tick = %ld ms)\n", seconds,
              after - before, (after - before) * 1000 / tick, 1000 / tick);
  std::printf("  context switches of all its threads meanwhile: %lld\n", switchesAfter - switchesBefore);
  receiver.signal(SIGTERM);
  auto last = receiver.readLine(5000);
  std::printf("  after SIGTERM: %s, exit code %d\n", last ? last->c_str() : "(nothing)",
              receiver.wait(5000).value_or(-1));
  return 0;
}

void measurePosting() {
  constexpr int kTasks = 1000000;
  UiDispatcher::create();
  int ran = 0;
  auto start = std::chrono::steady_clock::now();
  std::thread poster([&ran] {
    for (int i = 0; i < kTasks; ++i) {
      UiDispatcher::postDefault(new FunctionRunable([&ran] {
        if (++ran == kTasks) platform::postQuitMessage(0);
      }));
    }
  });
  platform::uiLoop().run();
  poster.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("posting: %d tasks from a worker thread run on the UI thread in %.3f s (%.2f M tasks/s)\n",
              kTasks, seconds, kTasks / seconds / 1e6);

  // Latency of one post into an idle loop, round trip measured on the poster.
  constexpr int kRounds = 2000;
  std::atomic<int> acknowledged{0};
  double worstUs = 0, totalUs = 0;
  std::thread pinger([&] {
    for (int i = 0; i < kRounds; ++i) {
      auto sent = std::chrono::steady_clock::now();
      UiDispatcher::postDefault(new FunctionRunable([&acknowledged] { ++acknowledged; }));
      while (acknowledged.load() <= i) std::this_thread::yield();
      double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - sent).count();
      totalUs += us;
      if (us > worstUs) worstUs = us;
      std::this_thread::sleep_for(std::chrono::microseconds(200));  // let the loop fall asleep
    }
    UiDispatcher::postDefault(new FunctionRunable([] { platform::postQuitMessage(0); }));
  });
  platform::uiLoop().run();
  pinger.join();
  std::printf("latency: post into a sleeping loop until the task ran: mean %.1f us, worst %.1f us (%d rounds)\n",
              totalUs / kRounds, worstUs, kRounds);
}

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
  if (seconds <= 0) seconds = 5;
  measurePosting();
  return measureIdle(seconds);
}
