#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/last_error.h"
#include "platform/runtime_folder.h"

namespace platform {
namespace {

constexpr int kOpenAttempts = 100;

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

// True when the path still names the open file: a closing last holder may
// have removed it between our open and our lock.
bool stillLinked(int fd, const std::string& path) {
  struct stat open, named;
  return fstat(fd, &open) == 0 && stat(path.c_str(), &named) == 0 && open.st_ino == named.st_ino &&
         open.st_dev == named.st_dev;
}

enum class Outcome { Created, Existed, Retry, Failed };

// One attempt: open the name's file and take a shared lock on it, first
// trying an exclusive one, which succeeds only when no other handle is open
// (this handle then created the name).
Outcome openOnce(const std::string& path, int& fd) {
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return errno == ENOENT ? Outcome::Retry : (setLastErrorFromErrno(), Outcome::Failed);
  Outcome outcome;
  if (setLock(fd, F_WRLCK, false) == 0) {
    outcome = Outcome::Created;
    if (setLock(fd, F_RDLCK, false) != 0) outcome = Outcome::Failed;
  } else if (errno == EAGAIN || errno == EACCES) {
    // Others hold shared locks; a creator or a closer holds the exclusive
    // one only for a few system calls, so this wait is short.
    outcome = setLock(fd, F_RDLCK, true) == 0 ? Outcome::Existed : Outcome::Failed;
  } else {
    outcome = Outcome::Failed;
  }
  if (outcome == Outcome::Failed) setLastErrorFromErrno();
  if (outcome != Outcome::Failed && !stillLinked(fd, path)) outcome = Outcome::Retry;
  if (outcome == Outcome::Failed || outcome == Outcome::Retry) {
    ::close(fd);
    fd = -1;
  }
  return outcome;
}

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::create(const std::wstring& name) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    std::string folder;
    if (!namedObjectFolder("mutex", folder)) {
      // A last handle elsewhere may have removed the empty folder meanwhile.
      if (getLastError() == ERROR_FILE_NOT_FOUND) continue;
      return nullptr;
    }
    std::string path = folder + "/" + namedObjectFileName(name);
    int fd = -1;
    switch (openOnce(path, fd)) {
      case Outcome::Created:
        setLastError(ERROR_SUCCESS);
        return std::unique_ptr<NamedMutex>(new NamedMutex(fd, false, path));
      case Outcome::Existed:
        setLastError(ERROR_ALREADY_EXISTS);
        return std::unique_ptr<NamedMutex>(new NamedMutex(fd, true, path));
      case Outcome::Retry: continue;
      case Outcome::Failed: return nullptr;
    }
  }
  setLastError(ERROR_BUSY);
  return nullptr;
}

// The last handle removes the file (and the namespace folder when it is
// empty), so that nothing is left behind. It does so under an exclusive
// lock, which no other handle can hold at the same time; an opener that
// raced with the removal finds its file unlinked and opens anew.
NamedMutex::~NamedMutex() {
  if (fd_ < 0) return;
  if (setLock(fd_, F_WRLCK, false) == 0 && stillLinked(fd_, path_)) {
    ::unlink(path_.c_str());
    ::rmdir(folderOf(path_).c_str());
  }
  ::close(fd_);
}

}  // namespace platform
