#include "app/startup.h"

#include <string>

#include "config/installer_contract.h"
#include "model/bx_downloader_model.h"
#include "platform/clock.h"
#include "platform/machine_profile.h"
#include "utility/log.h"
#include "utility/ufile.h"

namespace {

constexpr std::uint32_t kExitPauseMs = 1000;

// Roaming application data + "\downloader\downloader.log"; the folder is
// created when missing (a failure leaves the log empty, start-up goes on).
std::wstring prepareLogFile() {
  std::wstring folder = utility::ufile::getAppDataDir() + contract::kLogFolder;
  if (!utility::ufile::isExist(folder)) utility::ufile::makeDir(folder);
  return folder + contract::kLogFile;
}

void teardown() {
  // The reporter is stopped here, before the model, once it exists.
  BXDownloaderModel* model = BXDownloaderModel::getInstance();
  model->uninit();
  BXDownloaderModel::deleteInstance();
}

}  // namespace

int wWinMain(const wchar_t* commandLine) {
  // COM and Winsock have no counterpart here.
  std::wstring logFile = prepareLogFile();
  common::setLogHandler(common::writeLogLine);
  common::initLog(logFile);
  VLOG(L"\r\n\r\n start run");

  BXDownloaderModel::getInstance()->init(commandLine);
  VLOG(L"downloader start. version is : %ls "
       L"*******************************************************",
       contract::kVersion);

  // The UI toolkit, the controller and the message loop run here once they
  // exist; the controller decides whether the loop runs at all.

  teardown();
  common::flushLog();
  platform::sleepMs(platform::scaledWaitMs("exitPause", kExitPauseMs));
  return 0;
}
