// The per-user folder for the rendezvous files of named objects (mutexes,
// IPC endpoints): $XDG_RUNTIME_DIR/vireo, else /tmp/vireo-<uid>, always 0700
// and owned by the user, with one sub-folder per profile "namespace" so that
// tests running at once never meet.
#pragma once

#include <string>

namespace platform {

// "<base>/<kind>/<namespace>", created when missing. False (last error set)
// when it cannot be made safe: a folder owned by another user or a symlink.
bool namedObjectFolder(const std::string& kind, std::string& folder);

// A file name for an object name of any text: letters, digits and "-_.{}"
// stay, other characters are written as %XXXXXXXX; very long names become
// a digest of the name.
std::string namedObjectFileName(const std::wstring& name);

}  // namespace platform
