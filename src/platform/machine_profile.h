// The machine profile: a JSON file named by VIREO_PROFILE whose keys replace
// facts of the real machine, key by key. Tests and the demo use it to give
// the installer a sandbox (its own drives, registry, adapters, services).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct DriveSpec {
  wchar_t letter = L'C';            // upper case
  std::string root;                 // host folder, absolute
  std::optional<double> freeMiB;    // otherwise measured with statvfs
  std::optional<bool> ssd;          // otherwise the backing device's TRIM support
  std::optional<bool> hotplug;      // otherwise removable or USB
  std::optional<std::string> fs;    // file-system name in Windows words
  std::optional<bool> fixed;        // a fixed disk (default true)
};

struct WindowsVersionSpec {
  std::optional<std::uint32_t> major, minor, build;
  std::optional<bool> is64Bit;
};

struct ServiceSpec {
  std::optional<std::string> cdn, api, analytics, web, chat;
};

struct MachineProfile {
  std::string file;    // the profile file; empty when none is in force
  std::string folder;  // its folder: the sandbox, where records are written

  std::optional<std::vector<DriveSpec>> drives;
  std::optional<std::wstring> appData, desktop, windowsDir;  // Windows paths
  std::optional<std::string> registry;                       // host folder
  WindowsVersionSpec windows;
  std::optional<std::uint32_t> ansiCodePage;
  std::optional<bool> connected;
  std::optional<std::vector<std::vector<std::uint8_t>>> adapters;
  std::optional<std::string> ns;  // "namespace"
  ServiceSpec services;
  std::optional<std::string> trustedCA, publisherCA;
  std::optional<double> timeScale;
  std::vector<std::pair<std::string, std::uint32_t>> timeouts;

  bool active() const { return !file.empty(); }
};

// Parses a profile text. On success fills `out` and returns true; otherwise
// returns false with a message that names the offending key. `file` is the
// path the text came from (relative roots are taken from its folder).
bool parseMachineProfile(const std::string& text, const std::string& file,
                         MachineProfile& out, std::string& error);

// The profile in force (an empty one when VIREO_PROFILE is not set).
const MachineProfile& machineProfile();

// Reads VIREO_PROFILE. A malformed or unknown profile prints a clear message
// on standard error and ends the process with exit code 2; nothing of it is
// applied. Called once by platform::initialize.
void loadMachineProfileFromEnvironment();

// Replaces the profile in force (tests only; call before other threads run).
void installMachineProfile(MachineProfile profile);

// A wait of the system in milliseconds: the profile's named time-out when it
// names this one, else the default scaled by the profile's timeScale.
std::uint32_t scaledWaitMs(const char* name, std::uint32_t defaultMs);

// Names accepted under the profile's "timeouts" key.
const std::vector<std::string>& knownTimeoutNames();

}  // namespace platform
