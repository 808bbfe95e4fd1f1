#include "app/startup.h"

#include <string>

#include "app/bx_downloader_impl.h"
#include "app/tasks/ui_dispatcher.h"
#include "config/installer_contract.h"
#include "model/bx_downloader_model.h"
#include "net/zk_curl_downloader.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/machine_profile.h"
#include "report/zk_reporter.h"
#include "ui/image/icon_file.h"
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

// Stops the reporter (it uploads what is still queued) and the model, with
// their time limits, and deletes the model.
void teardown() {
  ZKReporter::getInstance()->stop();
  BXDownloaderModel::getInstance()->uninit();
  BXDownloaderModel::deleteInstance();
}

// The controller lives here for the whole message loop.
void runController() {
  BXDownloaderImpl controller;
  if (controller.entrance()) platform::uiLoop().run();
}

}  // namespace

int wWinMain(const wchar_t* commandLine) {
  // COM has no counterpart here; libcurl's global set-up takes Winsock's place.
  ZKCurlDownloader::globalInit();
  std::wstring logFile = prepareLogFile();
  common::setLogHandler(common::writeLogLine);
  UiDispatcher::create();
  common::initLog(logFile);
  VLOG(L"\r\n\r\n start run");

  BXDownloaderModel* model = BXDownloaderModel::getInstance();
  model->writeIconFromPng = image::writeIconFromPngFile;
  model->init(commandLine);
  VLOG(L"downloader start. version is : %ls "
       L"*******************************************************",
       contract::kVersion);

  // The skinned UI toolkit is prepared here once windows exist.
  runController();

  teardown();
  common::flushLog();
  platform::sleepMs(platform::scaledWaitMs("exitPause", kExitPauseMs));
  return 0;
}
