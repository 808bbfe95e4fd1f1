#include "model/bx_downloader_model.h"

#include <utility>

#include "app/launch/launch_parameters.h"
#include "app/tasks/runable.h"
#include "app/tasks/ui_dispatcher.h"
#include "config/config_imp.h"
#include "platform/machine_profile.h"
#include "report/zk_reporter.h"
#include "utility/log.h"
#include "utility/ufile.h"

namespace {

BXDownloaderModel* instance = nullptr;

// How long teardown waits for each worker thread.
constexpr std::uint32_t kThreadStopMs = 1000;

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
  if (!instance) return;
  if (instance->threadLetGo_) {
    // A thread let go at teardown may still use the object: it stays alive
    // (the process is ending), only the instance is emptied.
    VLOG(L"a worker thread is still running; the model is kept alive");
  } else {
    delete instance;
  }
  instance = nullptr;
}

void BXDownloaderModel::init(const wchar_t* commandLine) {
  readFileNameParameters();
  _calcInstallPath();
  readCommandLineParameters(commandLine);
  const std::wstring pcid = ConfigImp::getInstance()->getPCIDNew();
  ZKReporter::getInstance()->start(openid, pcid);
  if (!urlThread_.start(new MemberFuncRunable(this, &BXDownloaderModel::_threadGetPlayerUrl))) {
    VLOG(L"url thread not started");
  }
}

void BXDownloaderModel::uninit() {
  defaultUrlTimer_.kill();
  instanceMutex_.reset();

  stopUrlThread();
  stopWithinLimit(installThread_);
  // The transfers of downloadThread are interrupted first: a thread blocked in
  // a request can only end once its request has been closed.
  downloadCancel_.store(true);
  downloadThread_.requestStop();
  primaryDownloader_.cancel();
  spareDownloader_.cancel();
  stopWithinLimit(downloadThread_);
  // Again after the stop: a request a let-go thread opened meanwhile is
  // closed too.
  primaryDownloader_.cancel();
  spareDownloader_.cancel();

  taskOwner_.cancel();
}

void BXDownloaderModel::stopWithinLimit(WorkerThread& thread) {
  if (!thread.stop(platform::scaledWaitMs("threadStop", kThreadStopMs))) {
    VLOG(L"a worker thread did not end in time and was let go");
    threadLetGo_ = true;
  }
}

void BXDownloaderModel::postToUi(std::function<void()> task) {
  UiDispatcher::post(taskOwner_.key(), new FunctionRunable(std::move(task)));
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
