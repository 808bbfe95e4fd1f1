// The work of a stand-in full installer: the emulator's files in the folder,
// the edition's registry value and desktop shortcut.
#pragma once

#include <cstdint>
#include <string>

#include "outcome_report.h"
#include "payload.h"

namespace standin {

// Installs into `folder` (a Windows path that exists): varedori.exe,
// bxconsole.exe and the "vms" folder; "InstallDir" = folder under the
// edition's key in HKEY_CURRENT_USER; the edition's desktop shortcut to
// varedori.exe when the edition has one. Posts progress meanwhile. Returns 0
// or the Windows error code of the step that failed.
std::uint32_t installEdition(const std::wstring& folder, const std::string& selfHostPath,
                             const PayloadIndex& payload, OutcomeReport& report);

}  // namespace standin
