#include "installation.h"

#include "config/edition_catalogue.h"
#include "config/installer_contract.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/last_error.h"
#include "platform/registry_store.h"
#include "platform/shell_link.h"

namespace standin {
namespace {

std::wstring withSeparator(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return folder;
}

std::uint32_t extractProgram(const std::string& self, const PayloadPart& part, const std::wstring& target) {
  std::string host = platform::hostPath(target);
  if (host.empty()) return ERROR_PATH_NOT_FOUND;
  return extractPayloadPart(self, part, host);
}

std::uint32_t makeFolder(const std::wstring& folder) {
  DWORD result = platform::createDirectoryTree(folder);
  return result == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : result;
}

std::uint32_t writeInstallDir(const config::EditionRow& edition, const std::wstring& folder) {
  DWORD result = platform::registry::createKey(HKEY_CURRENT_USER, edition.registryKey);
  if (result != ERROR_SUCCESS) return result;
  return platform::registry::writeValue(HKEY_CURRENT_USER, edition.registryKey, L"InstallDir", folder);
}

std::uint32_t writeDesktopShortcut(const config::EditionRow& edition, const std::wstring& folder) {
  std::wstring name = edition.shortcutName;
  if (name.empty()) return ERROR_SUCCESS;
  std::wstring desktop = platform::desktopFolder();
  if (std::uint32_t result = makeFolder(desktop)) return result;
  platform::ShellLink link;
  link.target = withSeparator(folder) + contract::kEmulatorExe;
  link.workingDir = folder;
  link.iconPath = link.target;
  if (!platform::writeShellLink(desktop + L"\\" + name, link)) {
    DWORD error = platform::getLastError();
    return error ? error : ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::uint32_t installEdition(const std::wstring& folder, const std::string& selfHostPath,
                             const PayloadIndex& payload, OutcomeReport& report) {
  const config::EditionRow& edition = config::editionRow(static_cast<int>(payload.edition));
  std::wstring base = withSeparator(folder);
  report.progress(5);
  if (auto r = extractProgram(selfHostPath, payload.emulator, base + contract::kEmulatorExe)) return r;
  report.progress(30);
  if (auto r = extractProgram(selfHostPath, payload.console, base + contract::kConsoleExe)) return r;
  report.progress(55);
  if (auto r = makeFolder(base + contract::kVmsFolder)) return r;
  report.progress(75);
  if (auto r = writeInstallDir(edition, folder)) return r;
  report.progress(90);
  if (auto r = writeDesktopShortcut(edition, folder)) return r;
  report.progress(100);
  return ERROR_SUCCESS;
}

}  // namespace standin
