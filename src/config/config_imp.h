// The product configuration: the edition in force and every value that
// depends on it, the service addresses built from the service list, and two
// pieces of shared run-time state (a cached full installer, the machine
// identifier). One instance per process, never destroyed.
#pragma once

#include <string>

class ConfigImp {
 public:
  static ConfigImp* getInstance();

  // State, read and written directly by its owners.
  std::wstring language = L"cn";  // never changed
  std::wstring packagePath;       // a full installer already on disk
  int edition = 3;                // 0 to 5; outside 1 to 5 reads as 0
  std::wstring pcid;              // machine identifier, once computed

  std::wstring getLanguage() const;
  std::wstring getPlayerName() const;
  std::wstring getInstallSubDir() const;  // ends with "\"
  std::wstring getBrandName() const;
  std::wstring getPlayerUrlAddress() const;
  std::wstring getDefaultInstallerUrl() const;
  std::wstring getHomePage() const;
  std::wstring getRegistryKey() const;
  std::wstring getShortcutName() const;  // empty for row 0
  std::wstring getLanguageFile() const;  // inside the skin package
  std::wstring getOpenidConfigUrl(const std::wstring& openid,
                                  const std::wstring& packageName) const;

  // packagePath when it names an existing file, else
  // folder + "\" + "zkinst_" + nameTag + ".exe".
  std::wstring getDownloadFilePath(const std::wstring& folder, const std::wstring& nameTag) const;

  // Machine identity (machine_identity.cpp).
  std::wstring getPCIDNew();
  std::string getPCIDOld();
  static bool isValidPCID(const std::string& pcid);

 private:
  ConfigImp() = default;
};
