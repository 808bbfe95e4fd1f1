#include "platform/os_facts.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/random.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/last_error.h"
#include "platform/machine_profile.h"

namespace platform {
namespace {

constexpr WindowsVersion kDefaultVersion = {10, 0, 19045};
constexpr WindowsVersion kManifestlessVersion = {6, 2, 9200};

bool atLeast(const WindowsVersion& v, std::uint32_t major, std::uint32_t minor) {
  return v.major > major || (v.major == major && v.minor >= minor);
}

bool machineIs64Bit() {
  struct utsname names;
  if (uname(&names) != 0) return sizeof(void*) == 8;
  return std::strstr(names.machine, "64") != nullptr || std::strcmp(names.machine, "s390x") == 0;
}

// A default route in the kernel's IPv4 table (destination 0, gateway route up).
bool defaultRouteIPv4() {
  std::ifstream in("/proc/net/route");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags, refcnt, use, metric, mask;
    if (!(fields >> iface >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask)) {
      continue;
    }
    unsigned long f = std::strtoul(flags.c_str(), nullptr, 16);
    if (iface != "lo" && destination == "00000000" && mask == "00000000" && (f & 0x1)) return true;
  }
  return false;
}

// A default route in the IPv6 table (::/0 on an interface other than lo).
bool defaultRouteIPv6() {
  std::ifstream in("/proc/net/ipv6_route");
  std::string line;
  const std::string zero(32, '0');
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string destination, prefix, source, sourcePrefix, next, metric, refcnt, use, flags, iface;
    if (!(fields >> destination >> prefix >> source >> sourcePrefix >> next >> metric >> refcnt >>
          use >> flags >> iface)) {
      continue;
    }
    unsigned long f = std::strtoul(flags.c_str(), nullptr, 16);
    bool reject = f & 0x0200;  // RTF_REJECT: the unreachable default of a machine offline
    if (destination == zero && prefix == "00" && iface != "lo" && (f & 0x1) && !reject) return true;
  }
  return false;
}

}  // namespace

WindowsVersion realWindowsVersion() {
  const auto& w = machineProfile().windows;
  return {w.major.value_or(kDefaultVersion.major), w.minor.value_or(kDefaultVersion.minor),
          w.build.value_or(kDefaultVersion.build)};
}

WindowsVersion reportedWindowsVersion() {
  WindowsVersion real = realWindowsVersion();
  return atLeast(real, 6, 2) ? kManifestlessVersion : real;
}

bool is64BitWindows() {
  const auto& w = machineProfile().windows;
  return w.is64Bit ? *w.is64Bit : machineIs64Bit();
}

std::vector<std::array<std::uint8_t, 8>> adapterAddresses() {
  std::vector<std::array<std::uint8_t, 8>> out;
  const auto& profile = machineProfile();
  if (profile.adapters) {
    for (const auto& bytes : *profile.adapters) {
      std::array<std::uint8_t, 8> a{};
      for (size_t i = 0; i < bytes.size() && i < a.size(); ++i) a[i] = bytes[i];
      out.push_back(a);
    }
    return out;
  }
  struct ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    setLastErrorFromErrno();
    return out;
  }
  for (struct ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_PACKET) continue;
    if (i->ifa_flags & IFF_LOOPBACK) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(i->ifa_addr);
    std::array<std::uint8_t, 8> a{};
    for (size_t k = 0; k < link->sll_halen && k < a.size(); ++k) a[k] = link->sll_addr[k];
    out.push_back(a);
  }
  freeifaddrs(list);
  return out;
}

bool createGuid(Guid& out) {
  std::uint8_t bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      setLastErrorFromErrno();
      return false;
    }
    got += static_cast<size_t>(n);
  }
  // A version-4 (random) GUID with the RFC 4122 variant, as CoCreateGuid makes.
  out.data1 = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
              static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
  out.data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  out.data3 = static_cast<std::uint16_t>(((bytes[6] << 8 | bytes[7]) & 0x0FFF) | 0x4000);
  for (int i = 0; i < 8; ++i) out.data4[i] = bytes[8 + i];
  out.data4[0] = static_cast<std::uint8_t>((out.data4[0] & 0x3F) | 0x80);
  return true;
}

bool isConnected() {
  const auto& profile = machineProfile();
  if (profile.connected) return *profile.connected;
  return defaultRouteIPv4() || defaultRouteIPv6();
}

}  // namespace platform
