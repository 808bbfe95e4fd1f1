// The companion game: the operator configuration fetched for the link's
// openid (its reply, the game item it gives, the window's branding
// pictures), the customisation of the installed emulator for the game
// (pictures, icon, "data.ini" settings), the game's desktop shortcut, and
// the emulator's start for the game of the launch parameters.
#include <rapidjson/document.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "config/config_imp.h"
#include "config/installer_contract.h"
#include "model/bx_downloader_model.h"
#include "net/zk_curl_downloader.h"
#include "platform/registry_store.h"
#include "utility/disk.h"
#include "utility/ini_file.h"
#include "utility/log.h"
#include "utility/ufile.h"
#include "utility/ustring.h"

namespace {

namespace us = utility::ustring;

// A branding picture that only the libcurl fall-back fetched must be larger
// than this: libcurl also stores error pages.
constexpr std::uint64_t kMinFallbackPictureBytes = 5120;
// A shorter icon address is no address.
constexpr std::size_t kMinIconUrlLength = 10;
constexpr auto kIconRetryPause = std::chrono::milliseconds(200);

// openids of five characters or more, and the test openid "123", have a
// configuration.
bool hasConfiguration(const std::wstring& openid) {
  return openid.size() >= 5 || openid == L"123";
}

std::wstring withSeparator(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder;
}

std::wstring brandingPicturePath(const std::wstring& openid, const wchar_t* suffix) {
  return utility::ufile::getAppDataDir() + L"\\" + contract::kBrandingFolder + L"\\" + openid +
         suffix;
}

// The configuration names files after the game: a name that could leave the
// folder it is meant for (a path, a drive, "..") or that Windows refuses is
// not used as a file name.
bool isPlainFileName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (wchar_t c : name) {
    if (c < 0x20 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) {
      return false;
    }
  }
  return true;
}

bool largerThanFallbackMinimum(const std::wstring& path) {
  std::uint64_t size = 0;
  return utility::ufile::isExist(path) && utility::ufile::getFileSize(path, size) &&
         size > kMinFallbackPictureBytes;
}

// A branding picture: the second stack, else libcurl, whose file counts only
// above the minimum size. A picture that did not arrive leaves no file.
bool fetchBrandingPicture(utility::CHttpDownloader& downloader, const std::wstring& url,
                          const std::wstring& path) {
  utility::ufile::makeDir(utility::ufile::getParentDir(path));
  bool arrived = downloader.download2file(url, path, nullptr, false);
  if (!arrived) {
    ZKCurlDownloader curl(&downloader.cancelToken());
    arrived = curl.downloadFile(path, us::wideToAnsi(url), nullptr) &&
              largerThanFallbackMinimum(path);
  }
  if (!arrived) utility::ufile::removeFile(path);
  return arrived;
}

// A picture for the emulator: the second stack, else libcurl.
bool fetchEmulatorPicture(utility::CHttpDownloader& downloader, const std::wstring& url,
                          const std::wstring& path) {
  if (downloader.download2file(url, path, nullptr, false)) return true;
  ZKCurlDownloader curl(&downloader.cancelToken());
  return curl.downloadFile(path, us::wideToAnsi(url), nullptr);
}

// --- the reply ----------------------------------------------------------------

std::wstring textOf(const rapidjson::Value& value) {
  return us::utf8ToWide(std::string(value.GetString(), value.GetStringLength()));
}

const rapidjson::Value* member(const rapidjson::Value& object, const char* key) {
  auto found = object.FindMember(key);
  return found == object.MemberEnd() ? nullptr : &found->value;
}

// Sets the field from a text member; another type leaves it as it is.
void readText(const rapidjson::Value& data, const char* key, std::wstring& field) {
  const rapidjson::Value* value = member(data, key);
  if (value && value->IsString()) field = textOf(*value);
}

bool readNumber(const rapidjson::Value& data, const char* key, double& number) {
  const rapidjson::Value* value = member(data, key);
  if (!value || !value->IsNumber()) return false;
  number = value->GetDouble();
  return true;
}

// A number as decimal text; false for a fraction or a number beyond 64 bits.
bool readDecimal(const rapidjson::Value& data, const char* key, std::wstring& text) {
  const rapidjson::Value* value = member(data, key);
  if (!value || !value->IsNumber()) return false;
  if (value->IsInt64()) return text = std::to_wstring(value->GetInt64()), true;
  if (value->IsUint64()) return text = std::to_wstring(value->GetUint64()), true;
  const double number = value->GetDouble();
  if (!std::isfinite(number) || number != std::trunc(number) || std::fabs(number) >= 9.2e18) {
    return false;
  }
  text = std::to_wstring(static_cast<long long>(number));
  return true;
}

}  // namespace

void BXDownloaderModel::_getPackageByOpenID() {
  if (!hasConfiguration(openid)) return;
  VLOG(L"start get openid : %ls 's config", openid.c_str());
  const std::wstring url = ConfigImp::getInstance()->getOpenidConfigUrl(openid, packageName);
  VLOG(L"url %ls", url.c_str());

  std::string reply;
  if (!urlDownloader_.download2mem(reply, url)) {
    reply.clear();
    ZKCurlDownloader curl(&urlDownloader_.cancelToken());
    curl.downloadMemory(us::wideToAnsi(url), reply, {});
  }
  VLOG(L"get config sucess %ls", us::utf8ToWide(reply).c_str());
  if (!reply.empty()) _initAppInfoForCN(reply);
  VLOG(L"package is %ls", packageName.c_str());
  if (urlThread_.isStopping()) return;

  if (!gameConfig.installBg.empty()) {
    const std::wstring path = brandingPicturePath(openid, L"_bg.jpg");
    if (utility::ufile::isExist(path)) utility::ufile::removeFile(path);
    VLOG(L"start download bg %ls", gameConfig.installBg.c_str());
    if (fetchBrandingPicture(urlDownloader_, gameConfig.installBg, path)) {
      postToUi([this, path] {
        if (notify.onAppInfo) notify.onAppInfo(path, L"", L"");
      });
      return;
    }
  }
  if (urlThread_.isStopping()) return;
  if (!gameConfig.windowIconUrl.empty() && !gameConfig.shortcutName.empty()) {
    const std::wstring path = brandingPicturePath(openid, L"_icon.png");
    if (fetchBrandingPicture(urlDownloader_, gameConfig.windowIconUrl, path)) {
      const std::wstring name = gameConfig.shortcutName;
      postToUi([this, path, name] {
        if (notify.onAppInfo) notify.onAppInfo(L"", path, name);
      });
    }
  }
}

void BXDownloaderModel::_initAppInfoForCN(const std::string& reply) {
  VLOG(L"calc json");
  rapidjson::Document document;
  // Iterative parsing: a deeply nested hostile reply cannot exhaust the stack.
  document.Parse<rapidjson::kParseIterativeFlag>(reply.data(), reply.size());
  if (document.HasParseError() || !document.IsObject()) {
    VLOG(L"not object");
    return;
  }
  const rapidjson::Value* data = member(document, "data");
  if (!data) {
    VLOG(L"no data");
    return;
  }
  if (!data->IsObject()) {
    VLOG(L"data is not object");
    return;
  }

  GameItem item;
  const rapidjson::Value* package = member(*data, "packageName");
  if (package && package->IsString()) {
    item.packageName = textOf(*package);
    packageName = item.packageName;
    gameConfig.runApp = item.packageName;
  }
  readText(*data, "installFileName", item.appName);
  readText(*data, "installApkUrl", item.apkUrl);
  readText(*data, "playerLoadingBgV", gameConfig.loadingImageV);
  readText(*data, "playerLoadingBgH", gameConfig.loadingImageH);
  readText(*data, "startupTitle", gameConfig.startupTitle);
  readText(*data, "desktopGameIco", gameConfig.shortcutIconUrl);
  readText(*data, "desktopGamePng", gameConfig.windowIconUrl);
  readText(*data, "desktopGameName", gameConfig.shortcutName);
  readText(*data, "installBg", gameConfig.installBg);
  readText(*data, "desktopWallpaper", gameConfig.wallpaperUrl);
  readText(*data, "resolution", item.resolution);
  readDecimal(*data, "gameid", item.gameId);
  double number = 0;
  if (readNumber(*data, "cleanmodel", number)) gameConfig.cleanMode = number != 0;
  gameConfig.adSupport = readNumber(*data, "blockAds", number) && number == 0;
  VLOG(L"ad suport %d", gameConfig.adSupport ? 1 : 0);
  if (readNumber(*data, "xapk", number)) item.isXapk = number != 0;
  item.fromAppStore = item.apkUrl.empty();

  if (!item.packageName.empty()) gameItems.push_back(item);
  VLOG(L"bg: %ls", gameConfig.installBg.c_str());
  VLOG(L"icon: %ls", gameConfig.shortcutIconUrl.c_str());
}

void BXDownloaderModel::applyGameConfig() {
  VLOG(L"start save config");
  const std::wstring installPath = getInstallPath();
  if (installPath.empty()) return;
  const std::wstring dataFolder = withSeparator(installPath) + contract::kDataFolder;
  utility::ufile::makeDir(dataFolder);

  // The transfers are interrupted by the downloader's cancel token only;
  // between them a stop of the install thread ends the customisation.
  utility::CHttpDownloader downloader;
  const std::pair<const std::wstring*, const wchar_t*> pictures[] = {
      {&gameConfig.loadingImageH, L"launch_1920.jpg"},
      {&gameConfig.loadingImageV, L"launch_1080.jpg"},
      {&gameConfig.wallpaperUrl, L"wallpaper.jpg"},
  };
  for (const auto& [url, name] : pictures) {
    if (installThread_.isStopping()) return;
    if (!url->empty()) fetchEmulatorPicture(downloader, *url, dataFolder + name);
  }

  const std::wstring& iconUrl = gameConfig.shortcutIconUrl;
  if (iconUrl.size() > kMinIconUrlLength && !installThread_.isStopping()) {
    if (isPlainFileName(gameConfig.shortcutName)) {
      std::wstring extension = iconUrl.substr(iconUrl.size() - 4);
      us::toLower(extension);
      const bool png = extension == L".png";
      const std::wstring iconPath = dataFolder + gameConfig.shortcutName + L".ico";
      const std::wstring target = png ? dataFolder + gameConfig.shortcutName + L".png" : iconPath;
      VLOG(L"download game icon :%ls", target.c_str());
      bool fetched = downloader.download2file(iconUrl, target, nullptr, false);
      if (!fetched && !installThread_.isStopping()) {
        std::this_thread::sleep_for(kIconRetryPause);
        fetched = downloader.download2file(iconUrl, target, nullptr, false);
      }
      if (fetched && png && !(writeIconFromPng && writeIconFromPng(target, iconPath))) {
        VLOG(L"the game icon is no usable png picture");
      }
    } else {
      VLOG(L"game name refused as a file name: %ls", gameConfig.shortcutName.c_str());
    }
  }

  const std::wstring ini = dataFolder + contract::kDataIni;
  const std::wstring section = contract::kDataIniSection;
  if (!gameConfig.adSupport) utility::ini::writePrivateProfileStringW(section, L"adshow", L"0", ini);
  if (gameConfig.cleanMode) {
    utility::ini::writePrivateProfileStringW(section, L"cleanmodel", L"1", ini);
  }
  if (!gameConfig.adSupport || gameConfig.cleanMode) {
    platform::registry::deleteValue(HKEY_CURRENT_USER, contract::kRunKey, contract::kRunValueName);
  }
  if (!gameConfig.startupTitle.empty()) {
    utility::ini::writePrivateProfileStringA(us::wideToAnsi(section), "title",
                                             us::wideToUtf8(gameConfig.startupTitle), ini);
  }
  if (!gameConfig.runApp.empty()) {
    utility::ini::writePrivateProfileStringW(section, L"runapp", gameConfig.runApp, ini);
  }
}

void BXDownloaderModel::createApkShortCut() {
  const std::wstring& name = gameConfig.shortcutName;
  if (!isPlainFileName(name)) return;
  const std::wstring installPath = withSeparator(getInstallPath());
  const std::wstring dataFolder = installPath + contract::kDataFolder;
  const std::wstring icon = dataFolder + name + L".ico";
  if (!utility::ufile::isExist(icon)) return;

  VLOG(L"start create shortcut");
  helper::disk::createShortcut(name, icon, getInstallPath(), installPath + contract::kEmulatorExe,
                               contract::kArgPackage + gameConfig.runApp);
  utility::ini::writePrivateProfileStringA(us::wideToAnsi(contract::kDataIniSection), "shortcut",
                                           us::wideToUtf8(name), dataFolder + contract::kDataIni);
}

void BXDownloaderModel::runGame() {
  std::wstring arguments;
  if (!gameId.empty()) {
    arguments = contract::kArgDownloadGameId + gameId + L"|" + contract::kArgPackage + packageName;
  } else if (!packageName.empty()) {
    arguments =
        contract::kArgDownloadPackage + packageName + L"|" + contract::kArgPackage + packageName;
  }
  runPlayer(arguments);
}
