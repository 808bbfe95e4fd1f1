// A sandbox profile in force in the test process for one scope; the real
// machine's facts (an empty profile) come back when it ends.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/drives.h"
#include "platform/machine_profile.h"
#include "support/sandbox.h"

namespace utility_tests {

class ScopedSandbox : public vireo::testing::Sandbox {
 public:
  explicit ScopedSandbox(std::vector<vireo::testing::SandboxDrive> drives = {{'C', ""}},
                         std::string extraJson = "")
      : Sandbox(std::move(drives), std::move(extraJson)) {
    installInProcess();
  }
  explicit ScopedSandbox(std::string extraJson) : ScopedSandbox({{'C', ""}}, std::move(extraJson)) {}
  ~ScopedSandbox() {
    platform::installMachineProfile(platform::MachineProfile{});
    platform::resetDriveTable();
  }
};

}  // namespace utility_tests
