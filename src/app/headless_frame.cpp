#include "app/headless_frame.h"

#include <cstdint>

#include "model/bx_downloader_model.h"
#include "model/completion_plan.h"
#include "model/install_path_rules.h"
#include "platform/event_loop.h"
#include "report/event_reports.h"
#include "report/event_vocabulary.h"
#include "utility/log.h"

namespace {

constexpr UINT kProgressStepMs = 1000;
constexpr int kInstallStartPercent = 3;
constexpr int kOneNetworkRetry = 1;

double mebibytes(int bytes) { return static_cast<std::uint32_t>(bytes) / 1048576.0; }

}  // namespace

HeadlessFrame::HeadlessFrame(BXDownloaderModel& model) : model_(model) {}

HeadlessFrame::~HeadlessFrame() {
  // Tasks the model posted with the default owner may still arrive.
  BXDownloaderModel::Notifications idle;
  idle.onDownloadProgress = [](int, int, int) {};
  idle.onDownloadSucceeded = [] {};
  idle.onDownloadFailed = [] {};
  idle.onInstallFinished = [](bool) {};
  idle.onAppInfo = [](const std::wstring&, const std::wstring&, const std::wstring&) {};
  idle.onEnvironmentResult = [](bool) {};
  idle.onNetworkUnavailable = [] {};
  model_.notify = std::move(idle);
}

void HeadlessFrame::start() {
  auto& n = model_.notify;
  n.onDownloadProgress = [this](int p, int r, int t) { onDownloadProgress(p, r, t); };
  n.onDownloadSucceeded = [this] { onDownloadSucceeded(); };
  n.onDownloadFailed = [this] { onDownloadFailed(); };
  n.onInstallFinished = [this](bool success) { onInstallFinished(success); };
  n.onAppInfo = [this](const std::wstring& b, const std::wstring& i, const std::wstring& name) {
    onAppInfo(b, i, name);
  };
  n.onEnvironmentResult = [this](bool running) { onEnvironmentResult(running); };
  n.onNetworkUnavailable = [this] { onNetworkUnavailable(); };
  VLOG(L"headless run: checking the environment");
  model_.startEnvironmentCheck();
}

void HeadlessFrame::show() { VLOG(L"headless run: show"); }

void HeadlessFrame::close(int result) {
  VLOG(L"headless run: close %d", result);
  quit();
}

void HeadlessFrame::markInstallError() {
  installError_ = true;
  progressTimer_.kill();
  finished_ = true;
}

void HeadlessFrame::showTo32PlayerFrame() { VLOG(L"headless run: no 32-bit edition window"); }

void HeadlessFrame::showMessageBox(MessageBoxSpec box) {
  VLOG(L"headless run: message box \"%ls\": %ls", box.title.c_str(), box.content.c_str());
}

void HeadlessFrame::onEnvironmentResult(bool running) {
  if (running) {
    // What "继续安装" in the running-emulator box does.
    VLOG(L"headless run: the emulator is running, ending it");
    model_.killMainExe();
  } else {
    VLOG(L"headless run: no emulator running");
  }
  pressInstall();
}

void HeadlessFrame::onNetworkUnavailable() {
  if (networkRetries_ < kOneNetworkRetry) {
    ++networkRetries_;
    VLOG(L"headless run: no network, checking again");
    model_.restartEnvironmentCheck();
    return;
  }
  VLOG(L"headless run: still no network, giving up");
  quit();
}

// The install button with the agreement accepted.
void HeadlessFrame::pressInstall() {
  report::reportEvent(report::key::kStartInstallPressed);
  path_rules::StartCheck check = path_rules::canStartInstall(model_, true);
  if (!check.accepted) {
    std::wstring why = check.notice ? check.notice->text : check.languageMessage;
    VLOG(L"headless run: install refused: %ls", why.c_str());
    quit();
    return;
  }
  VLOG(L"headless run: installing into %ls", model_.getInstallPath().c_str());
  model_.startDownloadPlayerEx();
}

void HeadlessFrame::onDownloadProgress(int percent, int received, int total) {
  if (percent == -1) {
    VLOG(L"headless run: resolving the download address");
    return;
  }
  if (received == 0 || total == 0) return;
  VLOG(L"headless run: downloaded %0.1fM of %0.1fM (%d%%)", mebibytes(received), mebibytes(total),
       percent);
}

void HeadlessFrame::onDownloadSucceeded() {
  VLOG(L"headless run: the full installer is ready, installing");
  report::reportEvent(report::key::kDownloadSuccess, report::Flush::Yes);
  model_.startInstall();
  installPercent_ = kInstallStartPercent;
  progressTimer_.start(kProgressStepMs, new FunctionRunable([this] { stepInstallProgress(); }));
}

void HeadlessFrame::onDownloadFailed() {
  report::reportFailure(report::key::kDownloadFail, report::reason::kNetworkError);
  VLOG(L"headless run: the download failed");
  quit();
}

// The simulated percentage while the full installer runs: 3, 8, ... 88, 93,
// 94, ... 99, then it stays.
void HeadlessFrame::stepInstallProgress() {
  if (installPercent_ > 99) installPercent_ = 99;
  VLOG(L"headless run: installing %d%%", installPercent_);
  installPercent_ += installPercent_ < 90 ? 5 : 1;
}

void HeadlessFrame::onInstallFinished(bool success) {
  CompletionPlan plan = planInstallFinished(completionFactsOf(model_, installError_, success));
  if (plan.ignore) {
    VLOG(L"headless run: the full installer reported an error");
    quit();
    return;
  }
  progressTimer_.kill();
  VLOG(L"headless run: installation finished, started = %d", success ? 1 : 0);
  switch (plan.action) {
    case CompletionPlan::Action::RunGameWithShortcut:
      model_.runGame();
      model_.createApkShortCut();
      break;
    case CompletionPlan::Action::RunPlayer:
      VLOG(L"headless run: starting the emulator with the game");
      model_.runPlayer(plan.playerArguments);
      break;
    case CompletionPlan::Action::RunGame:
      model_.runGame();
      break;
    case CompletionPlan::Action::GamePage:
      // The game page downloads the package on the window's game thread.
      VLOG(L"headless run: %ls needs the game page, which only the window has",
           plan.gameItem.appName.c_str());
      break;
    case CompletionPlan::Action::FinishPage:
      VLOG(L"headless run: finish page");
      break;
    case CompletionPlan::Action::StayOnProgressPage:
      VLOG(L"headless run: the installation failed");
      break;
  }
  finished_ = finished_ || plan.finished;
  quit();
}

void HeadlessFrame::onAppInfo(const std::wstring& background, const std::wstring& icon,
                              const std::wstring& name) {
  VLOG(L"headless run: branding background [%ls] icon [%ls] name [%ls]", background.c_str(),
       icon.c_str(), name.c_str());
}

void HeadlessFrame::quit() {
  VLOG(L"headless run: quit");
  platform::postQuitMessage(0);
}
