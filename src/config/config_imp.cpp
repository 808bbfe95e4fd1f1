#include "config/config_imp.h"

#include <cstdio>

#include "config/edition_catalogue.h"
#include "config/services.h"
#include "platform/code_pages.h"
#include "utility/ufile.h"
#include "utility/ustring.h"

namespace {

constexpr const wchar_t* kBrandName = L"Vireo";
constexpr const wchar_t* kDownloadFilePrefix = L"zkinst_";

// A query value as UTF-8 with every byte outside the unreserved characters
// percent-encoded, so that a package name with "&", "#" or blanks cannot
// change the address. Ordinary values (digits, "com.example.game") are
// unchanged.
std::wstring queryValue(const std::wstring& value) {
  std::wstring out;
  for (unsigned char c : platform::wideToUtf8(value)) {
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<wchar_t>(c);
    } else {
      wchar_t escaped[4];
      std::swprintf(escaped, 4, L"%%%02X", c);
      out += escaped;
    }
  }
  return out;
}

const config::EditionRow& row(int edition) { return config::editionRow(edition); }

}  // namespace

ConfigImp* ConfigImp::getInstance() {
  static ConfigImp* const instance = new ConfigImp();  // lives as long as the process
  return instance;
}

std::wstring ConfigImp::getLanguage() const { return language; }

std::wstring ConfigImp::getPlayerName() const { return row(edition).productName; }

std::wstring ConfigImp::getInstallSubDir() const { return row(edition).installSubDir; }

std::wstring ConfigImp::getBrandName() const { return kBrandName; }

std::wstring ConfigImp::getPlayerUrlAddress() const {
  return config::serviceAddresses().cdn + config::kPlayerUrlPath;
}

std::wstring ConfigImp::getDefaultInstallerUrl() const {
  return config::serviceAddresses().cdn + row(edition).installerPath;
}

std::wstring ConfigImp::getHomePage() const { return config::serviceAddresses().web + L"/"; }

std::wstring ConfigImp::getRegistryKey() const { return row(edition).registryKey; }

std::wstring ConfigImp::getShortcutName() const { return row(edition).shortcutName; }

std::wstring ConfigImp::getLanguageFile() const {
  return L"language\\downloader_" + language + L".xml";
}

std::wstring ConfigImp::getOpenidConfigUrl(const std::wstring& openid,
                                           const std::wstring& packageName) const {
  std::wstring url = config::serviceAddresses().api + config::kGameConfigurationPath +
                     L"?openid=" + queryValue(openid);
  if (!packageName.empty()) url += L"&packageName=" + queryValue(packageName);
  return url;
}

std::wstring ConfigImp::getDownloadFilePath(const std::wstring& folder,
                                            const std::wstring& nameTag) const {
  if (!packagePath.empty() && utility::ufile::isExist(packagePath)) return packagePath;
  std::wstring path = folder;
  if (!utility::ustring::endsWith(path, L"\\")) path += L"\\";
  return path + kDownloadFilePrefix + nameTag + L".exe";
}
