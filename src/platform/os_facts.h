// Facts of the operating system in Windows words.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace platform {

struct WindowsVersion {
  std::uint32_t major, minor, build;
};

// The version the system really is (RtlGetNtVersionNumbers): the profile's
// "windows", else Windows 10 build 19045.
WindowsVersion realWindowsVersion();

// The version GetVersionExW reports to a program without an OS compatibility
// manifest: Windows 8 and later all report 6.2.
WindowsVersion reportedWindowsVersion();

// 64-bit Windows: the profile's "windows.is64Bit", else whether this machine
// is 64-bit.
bool is64BitWindows();

// Network adapters' hardware addresses (8 bytes, zero-filled after the
// address), in the order of the system's list: the profile's "adapters",
// else getifaddrs (loopback left out).
std::vector<std::array<std::uint8_t, 8>> adapterAddresses();

// A new random GUID (CoCreateGuid). False when no randomness was available.
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2, data3;
  std::uint8_t data4[8];
};
bool createGuid(Guid& out);

// Whether the machine has a connection (InternetGetConnectedState): the
// profile's "connected", else whether a default route exists.
bool isConnected();

}  // namespace platform
