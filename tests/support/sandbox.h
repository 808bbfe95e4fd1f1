// A temporary sandbox machine for one test: a folder with drives, a
// registry, application data and desktop folders, and a profile naming them.
#pragma once

#include <string>
#include <vector>

namespace vireo::testing {

struct SandboxDrive {
  char letter;
  std::string extraJson;  // further keys of the drive, e.g. "\"freeMiB\": 20000"
};

// Where a sandbox's services point unless the test names its own: a loopback
// port nothing listens on, so a request fails at once and never leaves the
// machine.
constexpr const char* kClosedService = "http://127.0.0.1:9";

class Sandbox {
 public:
  // `extraJson` adds top-level keys to the profile (without braces).
  explicit Sandbox(std::vector<SandboxDrive> drives = {{'C', ""}}, std::string extraJson = "");
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& folder() const { return folder_; }
  const std::string& profilePath() const { return profile_; }
  std::string driveRoot(char letter) const;  // host folder of a drive
  std::string appDataHost() const;           // host folder of C:\Users\tester\AppData\Roaming
  std::string desktopHost() const;
  std::string registryHost() const;
  const std::string& ns() const { return namespace_; }

  // Makes this sandbox the profile of the test process itself.
  void installInProcess() const;

  // Rewrites the profile with more top-level keys.
  void rewriteProfile(const std::string& extraJson);

 private:
  std::string profileText(const std::string& extraJson) const;

  std::string folder_;
  std::string profile_;
  std::string namespace_;
  std::vector<SandboxDrive> drives_;
};

// Makes a sandbox the profile of this process and of every child started
// while the scope lives (VIREO_PROFILE); the end of the scope removes it.
class ProfileScope {
 public:
  explicit ProfileScope(const Sandbox& sandbox);
  ~ProfileScope();
  ProfileScope(const ProfileScope&) = delete;
  ProfileScope& operator=(const ProfileScope&) = delete;
};

// Test helpers for files on the host.
std::string readHostFile(const std::string& path);
void writeHostFile(const std::string& path, const std::string& bytes);
bool hostFileExists(const std::string& path);

}  // namespace vireo::testing
