#include "utility/window_ipc.h"

#include "platform/code_pages.h"
#include "platform/ipc_endpoint.h"
#include "platform/last_error.h"
#include "utility/log.h"

namespace utility {

WindowIPC::WindowIPC() = default;

WindowIPC::~WindowIPC() = default;

void WindowIPC::closeWindow() {
  endpoint_.reset();
  peer_.reset();
  window_ = 0;
  handler_ = nullptr;
}

bool WindowIPC::create(const std::wstring& className, IWindowIPCHandle* handler) {
  closeWindow();
  std::uint64_t window = ++lastWindow_;
  auto endpoint = platform::IpcEndpoint::create(
      className, [this, window](UINT message, WPARAM wParam, LPARAM lParam) {
        windowProcedure(window, message, wParam, lParam);
      });
  if (!endpoint) return false;
  endpoint_ = std::move(endpoint);
  window_ = window;
  handler_ = handler;
  return true;
}

bool WindowIPC::open(const std::wstring& className, const std::wstring& windowName) {
  closeWindow();
  // The receiving windows have an empty window name, so a named search
  // finds nothing.
  if (!windowName.empty()) {
    platform::setLastError(ERROR_SUCCESS);
    return false;
  }
  peer_ = platform::IpcPeer::open(className);
  if (peer_) return true;
  DWORD error = platform::getLastError();
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
    VLOG(L"className:%ls, windowName:%ls, error:%d", className.c_str(), windowName.c_str(),
         static_cast<int>(error));
  }
  return false;
}

bool WindowIPC::post(UINT message, WPARAM wParam, LPARAM lParam) {
  if (peer_) return peer_->post(message, wParam, lParam);
  if (endpoint_) return endpoint_->post(message, wParam, lParam);
  return false;
}

LRESULT WindowIPC::windowProcedure(std::uint64_t window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message > WM_USER || message == WM_COPYDATA) {
    if (window == window_ && handler_) handler_->onHandleWindowIPC(message, wParam, lParam);
    return 0;
  }
  return 0;  // everything else: the default procedure, which does nothing here
}

}  // namespace utility
