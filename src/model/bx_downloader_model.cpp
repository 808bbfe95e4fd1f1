#include "model/bx_downloader_model.h"

#include "app/launch/launch_parameters.h"
#include "config/config_imp.h"
#include "utility/log.h"
#include "utility/ufile.h"

namespace {

BXDownloaderModel* instance = nullptr;

// Launch-parameter lines are written under the name of the step that reads them.
constexpr const char* kInitFunction = "BXDownloaderModel::init";

void logLines(const std::vector<std::wstring>& lines) {
  for (const auto& line : lines) VLOG_AS(kInitFunction, L"%ls", line.c_str());
}

}  // namespace

BXDownloaderModel* BXDownloaderModel::getInstance() {
  if (!instance) instance = new BXDownloaderModel();
  return instance;
}

void BXDownloaderModel::deleteInstance() {
  delete instance;
  instance = nullptr;
}

void BXDownloaderModel::init(const wchar_t* commandLine) {
  readFileNameParameters();
  // The install location is computed here once the install-location step exists.
  readCommandLineParameters(commandLine);
  ConfigImp::getInstance()->getPCIDNew();
  // The reporter and the address-resolution thread start here once they exist.
}

void BXDownloaderModel::uninit() {
  // Timers, threads and downloaders are stopped here once the model has them.
}

void BXDownloaderModel::readFileNameParameters() {
  launch::FileNameParameters read = launch::readFileNameParameters(utility::ufile::getModulePath());
  logLines(read.logLines);
  if (!read.openid.empty()) openid = read.openid;
  if (!read.packageName.empty()) packageName = read.packageName;
  if (!read.gameId.empty()) gameId = read.gameId;
  if (read.edition) ConfigImp::getInstance()->edition = *read.edition;
}

void BXDownloaderModel::readCommandLineParameters(const wchar_t* commandLine) {
  launch::CommandLineParameters read = launch::readCommandLineParameters(commandLine);
  logLines(read.logLines);
  if (!read.gameItem) return;
  GameItem item;
  item.apkUrl = read.gameItem->apkUrl;
  item.appName = read.gameItem->appName;
  item.packageName = read.gameItem->packageName;
  gameItems.push_back(std::move(item));
}
