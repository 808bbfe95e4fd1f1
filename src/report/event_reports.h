// Reporting the installation events through the process-wide reporter.
// Who sends what, and whether the sender flushes right after:
//
//   start_download                     controller up, window shown          no
//   downloader_start_install           install button pressed               no
//   downloader_start_install_fail      failure_reason space_notEnough |
//                                      path_error                           no
//   downloader_start_install_success   checks passed, download starting     no
//   download_success                   installer on disk passed its
//                                      signature test / download ended      yes
//   download_fail                      failure_reason network_error         no
//   start_install                      install thread starts                no
//   downloader_install_fail            no_path, runerror_<code>,
//                                      runerror_timeout, runerror_unknow1,
//                                      runerror_unknow2                     no
//                                      errorcode_<code> (IPC 11124)         yes
//   complete_install                   IPC 11125                            yes
//   call_zud                           the emulator is started              yes
//   downloader_jump                    link_address: page opened            no
//   user_cancel                        exit dialog: downloading, then
//                                      download_fail user_cancel (phase 1),
//                                      installed (phase 3), normal          yes
//                                      finished window closed: installed   no
//                                      win_xp, win_32 notices               yes
#pragma once

#include <string>

#include "platform/win_constants.h"
#include "report/event_record.h"
#include "report/event_vocabulary.h"

namespace report {

enum class Flush { No, Yes };

// A filler that adds one string member; the value is copied now.
PropertyFiller stringProperty(const char* name, const std::wstring& value);

void reportEvent(const wchar_t* key, Flush flush = Flush::No);
void reportEvent(const wchar_t* key, const char* property, const std::wstring& value,
                 Flush flush = Flush::No);
// key with "failure_reason" = reason
void reportFailure(const wchar_t* key, const std::wstring& reason, Flush flush = Flush::No);
// "user_cancel" with "cancel_reason" = reason
void reportCancel(const std::wstring& reason, Flush flush);
// "downloader_jump" with "link_address" = address
void reportJump(const std::wstring& address);

// "errorcode_" + the code's 32-bit value in signed decimal.
std::wstring installErrorReason(WPARAM code);
// "runerror_" + the Windows error code in unsigned decimal.
std::wstring runErrorReason(DWORD code);
// The "cancel_reason" of the exit dialog for the model's phase.
const wchar_t* exitCancelReason(int phase);

// The full installer reported an error through IPC: flushes.
void reportInstallError(WPARAM code);
// The full installer's process could not be created.
void reportRunError(DWORD code);
// The user confirmed leaving in the exit dialog: "user_cancel", in phase 1
// followed by "download_fail" "user_cancel"; flushes both together.
void reportExitConfirmed(int phase);

}  // namespace report
