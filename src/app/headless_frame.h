// The main window's part without a window: it fills the model's
// notification slots and walks through the installation as a user who
// accepts everything would: the environment check, the agreement and the
// install button, the download, the silent installation and what follows
// it, and then the end of the message loop. Every step is written to the
// log, so a headless run tells its story there.
//
//   auto frame = std::make_unique<HeadlessFrame>(*BXDownloaderModel::getInstance());
//   frame->start();  // the window's initialisation: the environment check
//
// A running emulator is ended as "继续安装" would; without network the check
// is repeated once, then the run ends. Message boxes are logged and left
// open (they never block). UI thread only.
#pragma once

#include <string>

#include "app/main_frame.h"
#include "app/tasks/ui_timer.h"

class BXDownloaderModel;

class HeadlessFrame final : public MainFrame {
 public:
  explicit HeadlessFrame(BXDownloaderModel& model);
  // Leaves harmless handlers in the model's slots.
  ~HeadlessFrame() override;
  HeadlessFrame(const HeadlessFrame&) = delete;
  HeadlessFrame& operator=(const HeadlessFrame&) = delete;

  // Fills the notification slots and starts the environment check.
  void start();

  // --- MainFrame --------------------------------------------------------------
  void show() override;                 // a log line
  void close(int result) override;      // ends the message loop
  void markInstallError() override;     // installError, progress stopped, finished
  void showTo32PlayerFrame() override;  // a log line
  void showMessageBox(MessageBoxSpec box) override;  // logged, left open

  bool installError() const { return installError_; }
  bool finished() const { return finished_; }
  int installPercent() const { return installPercent_; }

 private:
  void onEnvironmentResult(bool running);
  void onNetworkUnavailable();
  void pressInstall();
  void onDownloadProgress(int percent, int received, int total);
  void onDownloadSucceeded();
  void onDownloadFailed();
  void stepInstallProgress();
  void onInstallFinished(bool success);
  void onAppInfo(const std::wstring& background, const std::wstring& icon,
                 const std::wstring& name);
  void quit();

  BXDownloaderModel& model_;
  UiTimer progressTimer_;
  int installPercent_ = 0;
  int networkRetries_ = 0;
  bool installError_ = false;
  bool finished_ = false;
};
