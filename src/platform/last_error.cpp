#include "platform/last_error.h"

#include <cerrno>

namespace platform {
namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD getLastError() { return lastError; }

void setLastError(DWORD code) { lastError = code; }

DWORD windowsErrorFromErrno(int e) {
  switch (e) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EISDIR: return ERROR_DIRECTORY;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EBUSY:
    case ETXTBSY: return ERROR_BUSY;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case EIO: return ERROR_GEN_FAILURE;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    case ELOOP: return ERROR_PATH_NOT_FOUND;
    default: return ERROR_GEN_FAILURE;
  }
}

DWORD setLastErrorFromErrno() {
  DWORD code = windowsErrorFromErrno(errno);
  lastError = code;
  return code;
}

}  // namespace platform
