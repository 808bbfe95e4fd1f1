// Window-message IPC between processes of one user: a receiving endpoint is
// named by a text (the window class name of the Windows design); any process
// of the same user and the same profile "namespace" can find it and post
// (message, wParam, lParam) to it. Received messages reach the endpoint's
// receiver on the UI loop's thread, in order per sender.
//
// On Linux an endpoint is a datagram socket in the abstract namespace, named
// from the user id, the profile namespace and the name, so it vanishes with
// its process (even after SIGKILL) and leaves no file behind. The receiver
// checks each datagram's sender credentials and drops other users' messages.
// A reader thread moves datagrams from the socket to the UI loop at once, so
// a busy UI thread does not make senders fail; up to 10,000 messages may wait
// for the UI thread (the queue limit of Windows) before posts are refused.
// A sender whose burst outruns the reader thread waits up to 20 ms for room.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/event_loop.h"
#include "platform/win_constants.h"

namespace platform {

// PostMessage's error when the receiver's queue is full.
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;

constexpr std::uint32_t kIpcQueueLimit = 10000;

class IpcEndpoint {
 public:
  using Receiver = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;

  // Creates the endpoint and delivers what it receives to `receiver` on the
  // thread of platform::uiLoop(). Null when the name is in use by a live
  // endpoint (ERROR_ALREADY_EXISTS) or the socket cannot be made (the last
  // error says why).
  static std::unique_ptr<IpcEndpoint> create(const std::wstring& name, Receiver receiver);

  // Posts to this endpoint from inside the process, as a peer would.
  bool post(UINT message, WPARAM wParam, LPARAM lParam);

  // Closes the socket; messages not yet delivered are dropped.
  ~IpcEndpoint();
  IpcEndpoint(const IpcEndpoint&) = delete;
  IpcEndpoint& operator=(const IpcEndpoint&) = delete;

  struct Shared;  // between the endpoint, its reader thread and its window

 private:
  IpcEndpoint() = default;

  int socket_ = -1;
  int stopFd_ = -1;
  WindowId window_ = 0;
  std::shared_ptr<Shared> shared_;
  struct Reader;
  std::unique_ptr<Reader> reader_;
};

// The sending side: a found endpoint to post to (FindWindow + PostMessage).
// A peer found once stays bound to that endpoint; when it is gone, posts fail.
class IpcPeer {
 public:
  // Null when no endpoint of that name exists for this user and namespace
  // (last error ERROR_FILE_NOT_FOUND) or on a system failure (another code).
  static std::unique_ptr<IpcPeer> open(const std::wstring& name);

  // Sends without waiting for the receiver to handle the message. False when
  // the receiver's queue stays full for 20 ms (ERROR_NOT_ENOUGH_QUOTA) or the
  // endpoint is gone (ERROR_INVALID_WINDOW_HANDLE).
  bool post(UINT message, WPARAM wParam, LPARAM lParam);

  ~IpcPeer();
  IpcPeer(const IpcPeer&) = delete;
  IpcPeer& operator=(const IpcPeer&) = delete;

 private:
  explicit IpcPeer(int fd) : fd_(fd) {}
  int fd_;
};

// The abstract socket name of an endpoint (without the leading zero byte):
// "vireo-ipc/<uid>/<namespace>/<name in UTF-8>", or a digest of that text
// when it would not fit a socket address.
std::string ipcAddressName(const std::wstring& name);

}  // namespace platform
