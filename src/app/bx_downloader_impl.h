// The controller: keeps a single copy of the installer running, creates,
// shows and raises the main window, refuses unsupported Windows versions with
// a notice, opens the IPC endpoint through which a second copy and the full
// installer talk to this process, and handles their messages. Lives on the
// UI thread for the whole message loop.
#pragma once

#include <memory>

#include "app/main_frame.h"
#include "utility/window_ipc.h"

class BXDownloaderImpl : public utility::IWindowIPCHandle {
 public:
  BXDownloaderImpl() = default;
  ~BXDownloaderImpl();
  BXDownloaderImpl(const BXDownloaderImpl&) = delete;
  BXDownloaderImpl& operator=(const BXDownloaderImpl&) = delete;

  // True when the message loop shall run; false when another copy runs (it
  // has been asked to show itself).
  bool entrance();
  // Creates the main window on first use, shows and raises it, and applies
  // the Windows-version gate (on every call).
  void showMainFrame();
  int onHandleWindowIPC(unsigned int message, WPARAM wParam, LPARAM lParam) override;

  // Actions of the notices' buttons.
  void quitForOldWindows();
  void quitFor32BitWindows();

 private:
  void applyVersionGate();
  void onInstallError(int code);

  std::unique_ptr<MainFrame> mainFrame_;
  utility::WindowIPC ipc_;
};
