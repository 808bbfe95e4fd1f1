// What the controller needs of the main window. The skinned window
// implements it once windows exist; until then a headless frame plays it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class BXDownloaderModel;

// A non-modal message box: the caller goes on, the user's choice arrives as
// the chosen button's action (or the closing action) on the UI thread.
struct MessageBoxButton {
  std::wstring text;
  bool primary = false;
  std::function<void()> action;
};

struct MessageBoxSpec {
  std::wstring title;
  std::wstring content;  // may carry the toolkit's markup
  std::vector<MessageBoxButton> buttons;
  std::function<void()> closeAction;  // empty: the close button only closes the box
};

class MainFrame {
 public:
  virtual ~MainFrame() = default;

  // Shows the window, gives it the focus and brings it to the front
  // (restoring it when minimised).
  virtual void show() = 0;
  // Closes the window with a result; its destruction ends the message loop.
  virtual void close(int result) = 0;
  // The full installer reported an error: the end-of-install notice that
  // follows changes nothing (installError, progress timer stopped, finished).
  virtual void markInstallError() = 0;
  // Switches to the 32-bit capable edition (the 32-bit edition window).
  virtual void showTo32PlayerFrame() = 0;
  virtual void showMessageBox(MessageBoxSpec box) = 0;
};

// The frame in use (the window, or the headless frame while no window
// exists).
std::unique_ptr<MainFrame> createMainFrame(BXDownloaderModel& model);
