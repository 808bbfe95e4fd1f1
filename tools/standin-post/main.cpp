// standin-post --class NAME MSG WPARAM LPARAM
//
// Posts one window message to the named IPC endpoint of this user (and of the
// profile namespace when VIREO_PROFILE names one), as another program of the
// product family would. Numbers are decimal or 0x-hexadecimal and may be
// negative. Exit codes: 0 posted, 1 no endpoint of that name, 2 bad
// arguments, 3 the endpoint refused the message (its queue is full or it is
// gone).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/code_pages.h"
#include "platform/entry.h"
#include "utility/window_ipc.h"

namespace {

int usage(const char* why) {
  std::fprintf(stderr, "standin-post: %s\nusage: standin-post --class NAME MSG WPARAM LPARAM\n", why);
  return 2;
}

bool parseNumber(const char* text, std::int64_t& out) {
  if (!*text) return false;
  errno = 0;
  char* end = nullptr;
  bool negative = text[0] == '-';
  unsigned long long magnitude = std::strtoull(negative ? text + 1 : text, &end, 0);
  if (errno || *end || (negative && text[1] == '-')) return false;
  out = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  if (argc != 6 || std::strcmp(argv[1], "--class") != 0) return usage("wrong arguments");
  std::int64_t message, wParam, lParam;
  if (!parseNumber(argv[3], message) || message < 0 || message > UINT32_MAX) {
    return usage("MSG must be a number from 0 to 4294967295");
  }
  if (!parseNumber(argv[4], wParam) || !parseNumber(argv[5], lParam)) {
    return usage("WPARAM and LPARAM must be numbers");
  }
  std::wstring className = platform::utf8ToWide(argv[2]);
  if (className.empty()) return usage("NAME must not be empty");

  utility::WindowIPC peer;
  if (!peer.open(className)) {
    std::fprintf(stderr, "standin-post: no endpoint %s\n", argv[2]);
    return 1;
  }
  if (!peer.post(static_cast<UINT>(message), static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam))) {
    std::fprintf(stderr, "standin-post: the endpoint %s refused the message\n", argv[2]);
    return 3;
  }
  return 0;
}
