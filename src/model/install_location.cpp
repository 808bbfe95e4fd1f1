// The install folder: an existing installation of the edition (registry,
// then the desktop shortcut), otherwise the edition's folder on the best drive.
#include "config/config_imp.h"
#include "config/installer_contract.h"
#include "model/bx_downloader_model.h"
#include "platform/known_folders.h"
#include "platform/registry_store.h"
#include "utility/disk.h"
#include "utility/log.h"
#include "utility/ufile.h"
#include "utility/usystem.h"

namespace {

constexpr const wchar_t* kInstallDirValue = L"InstallDir";
// RegQueryValueExW reads into 2,048 bytes: 1,024 UTF-16 units with the terminator.
constexpr size_t kInstallDirUnits = 1024;
constexpr int kEditionVireo5 = 4;

// install folder + "\vms\": the folder holds emulator data.
bool hasVmFolder(const std::wstring& installPath) {
  return utility::ufile::isExist(installPath + L"\\" + contract::kVmsFolder + L"\\");
}

// The folder of the program the edition's desktop shortcut starts (ending
// with "\"), or empty text.
std::wstring installPathFromShortcut() {
  std::wstring desktop = platform::desktopFolder();
  if (desktop.empty()) return {};
  std::wstring target;
  std::wstring link = desktop + L"\\" + ConfigImp::getInstance()->getShortcutName();
  if (utility::usystem::resolveShortcutFromFile(link, target) != 0) return {};
  if (target.empty() || !utility::ufile::isExist(target)) return {};
  return utility::ufile::getParentDir(target);
}

}  // namespace

std::wstring BXDownloaderModel::readInstallDir() {
  const std::wstring key = ConfigImp::getInstance()->getRegistryKey();
  if (platform::registry::createKey(HKEY_CURRENT_USER, key) != ERROR_SUCCESS) return {};
  std::wstring value;
  if (platform::registry::readValue(HKEY_CURRENT_USER, key, kInstallDirValue, value) !=
      ERROR_SUCCESS) {
    return {};
  }
  if (value.size() + 1 > kInstallDirUnits) return {};  // ERROR_MORE_DATA
  return value.substr(0, value.find(L'\0'));
}

void BXDownloaderModel::_calcInstallPath() {
  if (installPath_.empty()) installPath_ = readInstallDir();
  VLOG(L"read from reg: path is %ls", installPath_.c_str());
  if (!installPath_.empty() &&
      !utility::ufile::isExist(installPath_ + L"\\" + contract::kEmulatorExe)) {
    VLOG(L"%ls is not exist player", installPath_.c_str());
    installPath_.clear();
  }
  if (installPath_.empty()) {
    installPath_ = installPathFromShortcut();
    VLOG(L"read player path from shortcut %ls", installPath_.c_str());
  }
  playerPath_ = installPath_;
  if (!installPath_.empty()) {
    hasVmData_ = hasVmFolder(installPath_);
    bestPath_ = helper::disk::getMaxFreeSpaceDrive(bestIsSsd_);
    return;
  }
  installPath_ =
      helper::disk::getMaxFreeSpaceDrive(bestIsSsd_) + ConfigImp::getInstance()->getInstallSubDir();
  VLOG(L"get install path from MaxFreeSpace: %ls", installPath_.c_str());
  bestPath_ = installPath_;
}

void BXDownloaderModel::setInstallPath(const std::wstring& path) {
  installPath_ = path;
  hasVmData_ = hasVmFolder(path);
}

void BXDownloaderModel::recalcInstallPath() {
  installPath_.clear();
  _calcInstallPath();
  if (ConfigImp::getInstance()->edition == kEditionVireo5) setPlayerAddress(getZud5Address());
}
