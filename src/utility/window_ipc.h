// Window-message IPC: a hidden receiving window named by a class-name text
// (the installer's "{2266E930-7040-4A6B-B7C8-E44663785cdd}"), and the sending
// side that finds such a window in another process and posts to it.
//
//   utility::WindowIPC ipc;                        // receiving role
//   ipc.create(L"{2266E930-...}", this);          // this: an IWindowIPCHandle
//
//   utility::WindowIPC peer;                       // sending role
//   if (peer.open(L"{2266E930-...}")) peer.post(11123, 0, 0);
//
// Only message numbers above WM_USER, and WM_COPYDATA, reach the handler; the
// handler runs on the UI thread inside its loop, in order per sender, and
// must not block. Parameters are plain integers: no memory is shared, so a
// handler never follows lParam as a pointer (not even for WM_COPYDATA).
// Endpoints are per user and per profile namespace (platform/ipc_endpoint.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win_constants.h"

namespace platform {
class IpcEndpoint;
class IpcPeer;
}  // namespace platform

namespace utility {

class IWindowIPCHandle {
 public:
  // The transport ignores the result.
  virtual int onHandleWindowIPC(unsigned int message, WPARAM wParam, LPARAM lParam) = 0;

 protected:
  ~IWindowIPCHandle() = default;
};

// One small object for either role. It is the window's user data, so it
// stays where it is (neither copied nor moved) and is destroyed on the UI
// thread; destroying it closes its window.
class WindowIPC {
 public:
  WindowIPC();
  ~WindowIPC();
  WindowIPC(const WindowIPC&) = delete;
  WindowIPC& operator=(const WindowIPC&) = delete;

  // Creates the receiving window; true when it was created, and then stores
  // the handler. False when another live process (or object) holds the name
  // or the endpoint cannot be made; nothing is logged.
  bool create(const std::wstring& className, IWindowIPCHandle* handler);

  // Finds a receiving window by class name (and window name, which the
  // installer's windows leave empty). False when none exists; an unexpected
  // failure is logged.
  bool open(const std::wstring& className, const std::wstring& windowName = L"");

  // PostMessage to the stored window (own or found); false when there is none
  // or the post was refused (queue full, window gone).
  bool post(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  LRESULT windowProcedure(std::uint64_t window, UINT message, WPARAM wParam, LPARAM lParam);
  void closeWindow();

  // The stored window: the own endpoint after create, the peer after open.
  std::unique_ptr<platform::IpcEndpoint> endpoint_;
  std::unique_ptr<platform::IpcPeer> peer_;
  std::uint64_t window_ = 0;      // identity of the own window, 0 when none
  std::uint64_t lastWindow_ = 0;
  IWindowIPCHandle* handler_ = nullptr;  // not owned
};

}  // namespace utility
