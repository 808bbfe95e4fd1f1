// A sending program for the IPC tests: posts COUNT messages MSG with wParam
// 0, 1, ... COUNT-1 and lParam = its process id to the named endpoint. A post
// refused because the receiver's queue is full is tried again after 1 ms
// (the refused message was not queued, so the order stays); with --give-up
// the sender stops at the first refusal instead. Prints "sent N refused R"
// and exits 0; exits 1 when there is no endpoint.
//
//   ipc-sender --class NAME --message MSG --count COUNT [--give-up]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/code_pages.h"
#include "platform/entry.h"
#include "platform/ipc_endpoint.h"
#include "platform/last_error.h"
#include "utility/window_ipc.h"

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  std::string className;
  unsigned long message = 0, count = 0;
  bool giveUp = false;
  for (int i = 1; i < argc; ++i) {
    bool hasValue = i + 1 < argc;
    if (!std::strcmp(argv[i], "--give-up")) giveUp = true;
    if (!std::strcmp(argv[i], "--class") && hasValue) className = argv[++i];
    if (!std::strcmp(argv[i], "--message") && hasValue) message = std::strtoul(argv[++i], nullptr, 0);
    if (!std::strcmp(argv[i], "--count") && hasValue) count = std::strtoul(argv[++i], nullptr, 0);
  }
  utility::WindowIPC peer;
  if (!peer.open(platform::utf8ToWide(className))) return 1;
  unsigned long refused = 0;
  for (unsigned long i = 0; i < count; ++i) {
    while (!peer.post(static_cast<UINT>(message), i, getpid())) {
      if (platform::getLastError() != platform::ERROR_NOT_ENOUGH_QUOTA) return 3;
      ++refused;
      if (giveUp) {
        std::printf("sent %lu refused %lu\n", i, refused);
        return 0;
      }
      platform::sleepMs(1);
    }
  }
  std::printf("sent %lu refused %lu\n", count, refused);
  return 0;
}
