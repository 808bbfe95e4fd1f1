// The calling thread's last Windows error code, as GetLastError and
// SetLastError keep it, and the mapping from errno to those codes.
#pragma once

#include "platform/win_constants.h"

namespace platform {

DWORD getLastError();
void setLastError(DWORD code);

// The Windows error code that stands for an errno value, so that reported
// reasons read as they would on Windows (ENOENT -> ERROR_FILE_NOT_FOUND, ...).
DWORD windowsErrorFromErrno(int errnoValue);

// Sets the last error from errno and returns the code.
DWORD setLastErrorFromErrno();

}  // namespace platform
