#include "platform/named_mutex.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/last_error.h"
#include "platform/runtime_folder.h"

namespace platform {
namespace {

// Sets an open-file-description lock on the whole file. OFD locks belong to
// the open file, not to the process, so two handles in one process meet like
// two processes do, and converting a lock between kinds is atomic.
int setLock(int fd, short type, bool wait) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  int r;
  do {
    r = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock);
  } while (r != 0 && errno == EINTR);
  return r;
}

}  // namespace

// Every open handle holds a shared lock on the name's file. A new handle
// first tries an exclusive lock: it succeeds only when no other handle is
// open, which makes this the creating handle; the lock is then converted to
// shared. The file stays on disk, but a file nobody holds blocks nothing.
std::unique_ptr<NamedMutex> NamedMutex::create(const std::wstring& name) {
  std::string folder;
  if (!namedObjectFolder("mutex", folder)) return nullptr;
  std::string path = folder + "/" + namedObjectFileName(name);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    setLastErrorFromErrno();
    return nullptr;
  }
  bool existed;
  if (setLock(fd, F_WRLCK, false) == 0) {
    existed = false;
    if (setLock(fd, F_RDLCK, false) != 0) {
      setLastErrorFromErrno();
      ::close(fd);
      return nullptr;
    }
  } else if (errno == EAGAIN || errno == EACCES) {
    existed = true;
    // Others hold shared locks; a creator converts its exclusive lock at
    // once, so this wait is a matter of microseconds.
    if (setLock(fd, F_RDLCK, true) != 0) {
      setLastErrorFromErrno();
      ::close(fd);
      return nullptr;
    }
  } else {
    setLastErrorFromErrno();
    ::close(fd);
    return nullptr;
  }
  setLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return std::unique_ptr<NamedMutex>(new NamedMutex(fd, existed));
}

NamedMutex::~NamedMutex() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform
