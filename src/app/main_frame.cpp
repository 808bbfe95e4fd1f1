#include "app/main_frame.h"

#include "app/headless_frame.h"

// Until windows exist, the headless frame plays the main window.
std::unique_ptr<MainFrame> createMainFrame(BXDownloaderModel& model) {
  auto frame = std::make_unique<HeadlessFrame>(model);
  frame->start();
  return frame;
}
