// The desktop shell: opening addresses, and the requests to restart the
// machine. Under a machine profile nothing leaves the sandbox: an opened
// address is appended to "opened-urls.txt" and a restart request to
// "restart-requests.txt" in the profile's folder (and logged by the caller).
#pragma once

#include <string>

namespace platform {

// Opens the address with the desktop's handler (xdg-open). True when the
// handler was started (or, under a profile, the address recorded).
bool openUrl(const std::wstring& url);

// Restart requests: under a profile only recorded; otherwise asked of
// systemd-logind. True when the request was accepted.
bool enableShutdownPrivilege();
bool requestRestart();

}  // namespace platform
