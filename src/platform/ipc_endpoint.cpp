#include "platform/ipc_endpoint.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/code_pages.h"
#include "platform/last_error.h"
#include "platform/machine_profile.h"
#include "platform/sync_event.h"

namespace platform {
namespace {

constexpr std::uint32_t kWireMagic = 0x31504956;  // "VIP1"
constexpr int kFullQueueWaitMs = 20;

struct WireMessage {
  std::uint32_t magic;
  std::uint32_t message;
  std::uint64_t wParam;
  std::int64_t lParam;
};
static_assert(sizeof(WireMessage) == 24);

std::uint64_t fnv1a(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

// Fills an abstract-namespace address; returns its length for bind/connect.
socklen_t makeAddress(const std::wstring& name, sockaddr_un& address) {
  std::string text = ipcAddressName(name);
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, text.data(), text.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + text.size());
}

}  // namespace

std::string ipcAddressName(const std::wstring& name) {
  const auto& ns = machineProfile().ns;
  std::string text = "vireo-ipc/" + std::to_string(getuid()) + "/" + (ns ? *ns : std::string()) +
                     "/" + wideToUtf8(name);
  constexpr size_t kRoom = sizeof(sockaddr_un::sun_path) - 1;
  if (text.size() <= kRoom) return text;
  char digest[17];
  std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(fnv1a(text)));
  return "vireo-ipc/" + std::to_string(getuid()) + "/#" + digest;
}

// What the reader thread and the endpoint's window share; it lives as long as
// either of them.
struct IpcEndpoint::Shared {
  Receiver receiver;
  std::atomic<std::uint32_t> pending{0};  // posted to the UI loop, not yet delivered
  SyncEvent drained{SyncEvent::Reset::Auto};
  std::atomic<bool> stopping{false};
  WindowId window = 0;

  // On the UI thread, for every message of the endpoint's window.
  void deliver(UINT message, WPARAM wParam, LPARAM lParam) {
    if (pending.fetch_sub(1) == kIpcQueueLimit) drained.set();
    receiver(message, wParam, lParam);
  }

  // Any thread: queue one message for the UI thread, within the limit.
  bool enqueue(UINT message, WPARAM wParam, LPARAM lParam) {
    if (pending.fetch_add(1) >= kIpcQueueLimit) {
      pending.fetch_sub(1);
      setLastError(ERROR_NOT_ENOUGH_QUOTA);
      return false;
    }
    if (!uiLoop().postMessage(window, message, wParam, lParam)) {
      pending.fetch_sub(1);
      return false;
    }
    return true;
  }
};

struct IpcEndpoint::Reader {
  std::thread thread;
};

namespace {

// Receives every waiting datagram; false when the socket failed for good.
bool receiveWaiting(int socketFd, IpcEndpoint::Shared& shared) {
  const uid_t self = getuid();
  while (shared.pending.load() < kIpcQueueLimit) {
    WireMessage wire;
    iovec part{&wire, sizeof wire};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t got = recvmsg(socketFd, &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    bool fromSameUser = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
        ucred credentials;
        std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
        fromSameUser = credentials.uid == self;
      }
    }
    bool wellFormed = got == static_cast<ssize_t>(sizeof wire) && !(header.msg_flags & MSG_TRUNC) &&
                      wire.magic == kWireMagic;
    if (!fromSameUser || !wellFormed) continue;  // other users' or foreign datagrams
    shared.enqueue(wire.message, static_cast<WPARAM>(wire.wParam), static_cast<LPARAM>(wire.lParam));
  }
  return true;
}

void readerLoop(int socketFd, int stopFd, std::shared_ptr<IpcEndpoint::Shared> shared) {
  while (!shared->stopping.load()) {
    if (shared->pending.load() >= kIpcQueueLimit) {
      // The UI thread is far behind: leave the datagrams in the socket, so
      // that senders see a full queue, until it catches up.
      shared->drained.wait(INFINITE);
      continue;
    }
    pollfd fds[2] = {{socketFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (fds[0].revents && !receiveWaiting(socketFd, *shared)) return;
  }
}

}  // namespace

std::unique_ptr<IpcEndpoint> IpcEndpoint::create(const std::wstring& name, Receiver receiver) {
  std::unique_ptr<IpcEndpoint> endpoint(new IpcEndpoint());
  endpoint->socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (endpoint->socket_ < 0) {
    setLastErrorFromErrno();
    return nullptr;
  }
  int on = 1;
  // With SO_PASSCRED the kernel attaches the sender's credentials to every
  // datagram, whether or not the sender sent any.
  if (setsockopt(endpoint->socket_, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
    setLastErrorFromErrno();
    return nullptr;
  }
  sockaddr_un address;
  socklen_t length = makeAddress(name, address);
  if (bind(endpoint->socket_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    if (errno == EADDRINUSE) {
      setLastError(ERROR_ALREADY_EXISTS);
    } else {
      setLastErrorFromErrno();
    }
    return nullptr;
  }
  endpoint->stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (endpoint->stopFd_ < 0) {
    setLastErrorFromErrno();
    return nullptr;
  }
  auto shared = std::make_shared<Shared>();
  shared->receiver = std::move(receiver);
  shared->window = uiLoop().createWindow([shared](UINT message, WPARAM wParam, LPARAM lParam) {
    shared->deliver(message, wParam, lParam);
    return LRESULT{0};
  });
  endpoint->window_ = shared->window;
  endpoint->shared_ = shared;
  endpoint->reader_ = std::make_unique<Reader>();
  endpoint->reader_->thread = std::thread(readerLoop, endpoint->socket_, endpoint->stopFd_, shared);
  setLastError(ERROR_SUCCESS);
  return endpoint;
}

bool IpcEndpoint::post(UINT message, WPARAM wParam, LPARAM lParam) {
  return shared_->enqueue(message, wParam, lParam);
}

IpcEndpoint::~IpcEndpoint() {
  if (reader_ && reader_->thread.joinable()) {
    shared_->stopping.store(true);
    std::uint64_t one = 1;
    ssize_t ignored = write(stopFd_, &one, sizeof one);
    (void)ignored;
    shared_->drained.set();
    reader_->thread.join();
  }
  if (window_) uiLoop().destroyWindow(window_);
  if (stopFd_ >= 0) close(stopFd_);
  if (socket_ >= 0) close(socket_);
}

std::unique_ptr<IpcPeer> IpcPeer::open(const std::wstring& name) {
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    setLastErrorFromErrno();
    return nullptr;
  }
  sockaddr_un address;
  socklen_t length = makeAddress(name, address);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    int error = errno;
    close(fd);
    if (error == ECONNREFUSED || error == ENOENT) {
      setLastError(ERROR_FILE_NOT_FOUND);
    } else {
      errno = error;
      setLastErrorFromErrno();
    }
    return nullptr;
  }
  setLastError(ERROR_SUCCESS);
  return std::unique_ptr<IpcPeer>(new IpcPeer(fd));
}

bool IpcPeer::post(UINT message, WPARAM wParam, LPARAM lParam) {
  WireMessage wire{kWireMagic, message, static_cast<std::uint64_t>(wParam),
                   static_cast<std::int64_t>(lParam)};
  // The kernel queues only about ten datagrams per receiving socket, where
  // Windows queues 10,000 messages. The receiver's reader thread empties it
  // at once, so a full socket means a burst outran that thread: wait for
  // room, but only briefly, so that a stuck receiver never holds us up.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFullQueueWaitMs);
  ssize_t sent;
  int error = 0;
  for (;;) {
    sent = send(fd_, &wire, sizeof wire, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) break;
    error = errno;
    if (error == EINTR) continue;
    if (error != EAGAIN && error != EWOULDBLOCK) break;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd room{fd_, POLLOUT, 0};
    poll(&room, 1, static_cast<int>(left.count()));
  }
  if (sent == static_cast<ssize_t>(sizeof wire)) return true;
  if (error == EAGAIN || error == EWOULDBLOCK) {
    setLastError(ERROR_NOT_ENOUGH_QUOTA);
  } else if (error == ECONNREFUSED || error == ENOTCONN) {
    setLastError(ERROR_INVALID_WINDOW_HANDLE);
  } else {
    errno = error ? error : EIO;
    setLastErrorFromErrno();
  }
  return false;
}

IpcPeer::~IpcPeer() { close(fd_); }

}  // namespace platform
