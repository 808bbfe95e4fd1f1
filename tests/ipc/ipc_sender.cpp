// A sending program for the IPC tests: posts COUNT messages MSG with wParam
// 0, 1, ... COUNT-1 and lParam = its process id to the named endpoint. A post
// refused because the receiver's queue is full is tried again after 1 ms
// (the refused message was not queued, so the order stays). Prints
// "sent COUNT refused R" and exits 0; exits 1 when there is no endpoint.
//
//   ipc-sender --class NAME --message MSG --count COUNT
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
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--class")) className = argv[i + 1];
    if (!std::strcmp(argv[i], "--message")) message = std::strtoul(argv[i + 1], nullptr, 0);
    if (!std::strcmp(argv[i], "--count")) count = std::strtoul(argv[i + 1], nullptr, 0);
  }
  utility::WindowIPC peer;
  if (!peer.open(platform::utf8ToWide(className))) return 1;
  unsigned long refused = 0;
  for (unsigned long i = 0; i < count; ++i) {
    while (!peer.post(static_cast<UINT>(message), i, getpid())) {
      if (platform::getLastError() != platform::ERROR_NOT_ENOUGH_QUOTA) return 3;
      ++refused;
      platform::sleepMs(1);
    }
  }
  std::printf("sent %lu refused %lu\n", count, refused);
  return 0;
}
