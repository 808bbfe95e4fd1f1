#include "app/main_frame.h"

#include "utility/log.h"

namespace {

// Until a window (or the headless frame) is wired in, the frame only notes
// what it is asked to do; the loop then runs until the process is ended.
class LoggingFrame final : public MainFrame {
 public:
  void show() override { VLOG(L"main window: show"); }
  void close(int result) override { VLOG(L"main window: close %d", result); }
  void markInstallError() override { VLOG(L"main window: install error"); }
  void showTo32PlayerFrame() override { VLOG(L"main window: 32-bit edition"); }
  void showMessageBox(MessageBoxSpec box) override {
    VLOG(L"message box: %ls: %ls", box.title.c_str(), box.content.c_str());
  }
};

}  // namespace

std::unique_ptr<MainFrame> createMainFrame(BXDownloaderModel&) {
  return std::make_unique<LoggingFrame>();
}
