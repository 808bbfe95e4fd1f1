#include "support/sandbox.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/drives.h"
#include "platform/machine_profile.h"

namespace fs = std::filesystem;

namespace vireo::testing {
namespace {

std::string makeTemporaryFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vireo-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  return buffer.data();
}

std::string uniqueNamespace() {
  static std::atomic<int> counter{0};
  return "test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

Sandbox::Sandbox(std::vector<SandboxDrive> drives, std::string extraJson)
    : folder_(makeTemporaryFolder()), namespace_(uniqueNamespace()), drives_(std::move(drives)) {
  for (const auto& d : drives_) fs::create_directories(driveRoot(d.letter));
  fs::create_directories(appDataHost());
  fs::create_directories(desktopHost());
  fs::create_directories(registryHost());
  profile_ = folder_ + "/profile.json";
  rewriteProfile(extraJson);
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

std::string Sandbox::driveRoot(char letter) const {
  return folder_ + "/drive-" + std::string(1, static_cast<char>(std::tolower(letter)));
}

std::string Sandbox::appDataHost() const {
  return driveRoot('C') + "/Users/tester/AppData/Roaming";
}

std::string Sandbox::desktopHost() const { return driveRoot('C') + "/Users/tester/Desktop"; }

std::string Sandbox::registryHost() const { return folder_ + "/registry"; }

std::string Sandbox::profileText(const std::string& extraJson) const {
  std::ostringstream out;
  out << "{\n  \"drives\": [";
  for (size_t i = 0; i < drives_.size(); ++i) {
    const auto& d = drives_[i];
    out << (i ? ",\n    " : "\n    ") << "{\"letter\": \"" << d.letter << "\", \"root\": \""
        << driveRoot(d.letter) << "\"" << (d.extraJson.empty() ? "" : ", " + d.extraJson) << "}";
  }
  out << "\n  ],\n"
      << "  \"appData\": \"C:\\\\Users\\\\tester\\\\AppData\\\\Roaming\",\n"
      << "  \"desktop\": \"C:\\\\Users\\\\tester\\\\Desktop\",\n"
      << "  \"windowsDir\": \"C:\\\\Windows\",\n"
      << "  \"registry\": \"" << registryHost() << "\",\n"
      << "  \"namespace\": \"" << namespace_ << "\"";
  // Nothing a test runs may reach beyond 127.0.0.1: unless the test names
  // its services, they all point at a closed loopback port.
  if (extraJson.find("\"services\"") == std::string::npos) {
    out << ",\n  \"services\": {\"cdn\": \"" << kClosedService << "\", \"api\": \""
        << kClosedService << "\", \"analytics\": \"" << kClosedService << "\", \"web\": \""
        << kClosedService << "\", \"chat\": \"" << kClosedService << "\"}";
  }
  if (!extraJson.empty()) out << ",\n  " << extraJson;
  out << "\n}\n";
  return out.str();
}

void Sandbox::rewriteProfile(const std::string& extraJson) {
  writeHostFile(profile_, profileText(extraJson));
}

void Sandbox::installInProcess() const {
  platform::MachineProfile p;
  std::string error;
  if (!platform::parseMachineProfile(readHostFile(profile_), profile_, p, error)) {
    throw std::runtime_error("sandbox profile refused: " + error);
  }
  platform::installMachineProfile(std::move(p));
  platform::resetDriveTable();
}

ProfileScope::ProfileScope(const Sandbox& sandbox) {
  sandbox.installInProcess();
  setenv("VIREO_PROFILE", sandbox.profilePath().c_str(), 1);
}

ProfileScope::~ProfileScope() {
  unsetenv("VIREO_PROFILE");
  platform::installMachineProfile({});
  platform::resetDriveTable();
}

std::string readHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeHostFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool hostFileExists(const std::string& path) { return fs::exists(path); }

}  // namespace vireo::testing
