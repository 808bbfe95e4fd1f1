// A sandbox machine for the install-location tests: profile drives with
// given volume facts, the edition's registry value and desktop shortcut, and
// a fresh model and edition for every test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/config_imp.h"
#include "model/bx_downloader_model.h"
#include "platform/registry_store.h"
#include "platform/shell_link.h"
#include "utility/log_capture.h"
#include "utility/scoped_sandbox.h"

namespace location_tests {

using vireo::testing::SandboxDrive;

// A profile drive: NTFS unless said otherwise.
inline SandboxDrive drive(char letter, double freeMiB, bool ssd, const std::string& fs = "NTFS") {
  return {letter, "\"freeMiB\": " + std::to_string(freeMiB) +
                      ", \"ssd\": " + (ssd ? "true" : "false") + ", \"fs\": \"" + fs + "\""};
}

class LocationTest : public ::testing::Test {
 protected:
  void TearDown() override {
    BXDownloaderModel::deleteInstance();
    ConfigImp::getInstance()->edition = 3;
  }

  // The machine of this test; call first.
  void machine(std::vector<SandboxDrive> drives, int edition = 3) {
    sandbox_ = std::make_unique<utility_tests::ScopedSandbox>(std::move(drives));
    ConfigImp::getInstance()->edition = edition;
    model_ = BXDownloaderModel::getInstance();
  }

  // A host path for a Windows path on a sandbox drive ("D:\a\b").
  std::string host(const std::wstring& windowsPath) const {
    std::string out = sandbox_->driveRoot(static_cast<char>(windowsPath[0]));
    for (wchar_t c : windowsPath.substr(2)) out += c == L'\\' ? '/' : static_cast<char>(c);
    return out;
  }

  // An installation: the folder with varedori.exe (and "vms" when asked).
  void installation(const std::wstring& folder, bool withVms = false) {
    vireo::testing::writeHostFile(host(folder) + "/varedori.exe", "exe");
    if (withVms) std::filesystem::create_directories(host(folder) + "/vms");
  }

  void registryInstallDir(const std::wstring& value) {
    const std::wstring key = ConfigImp::getInstance()->getRegistryKey();
    ASSERT_EQ(platform::registry::createKey(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
    ASSERT_EQ(platform::registry::writeValue(HKEY_CURRENT_USER, key, L"InstallDir", value),
              ERROR_SUCCESS);
  }

  void desktopShortcut(const std::wstring& target) {
    platform::ShellLink link;
    link.target = target;
    ASSERT_TRUE(platform::writeShellLink(
        L"C:\\Users\\tester\\Desktop\\" + ConfigImp::getInstance()->getShortcutName(), link));
  }

  std::vector<std::wstring> logged() const {
    return log_.messages("BXDownloaderModel::_calcInstallPath");
  }

  utility_tests::LogCapture log_;
  std::unique_ptr<utility_tests::ScopedSandbox> sandbox_;
  BXDownloaderModel* model_ = nullptr;
};

}  // namespace location_tests
