// Named mutexes, per user and per profile "namespace": a name exists while
// any process holds a handle of it; the handle is released when it is closed
// or its process dies (even by SIGKILL), and nothing stale is left behind.
#pragma once

#include <memory>
#include <string>

namespace platform {

class NamedMutex {
 public:
  // Opens the name, creating it when nobody holds it. Null on failure (the
  // last error says why).
  static std::unique_ptr<NamedMutex> create(const std::wstring& name);

  // True when another handle of the name was open already
  // (CreateMutex's ERROR_ALREADY_EXISTS).
  bool existedBefore() const { return existed_; }

  ~NamedMutex();  // closes the handle
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

 private:
  NamedMutex(int fd, bool existed, std::string path)
      : fd_(fd), existed_(existed), path_(std::move(path)) {}
  int fd_;
  bool existed_;
  std::string path_;  // the rendezvous file, removed by the last handle
};

}  // namespace platform
