// The vocabulary of installation events: every event key, the three
// property names and the reason texts. The analytics side reads them
// exactly as written here, spelling included ("unknow").
#pragma once

namespace report {

namespace key {
constexpr const wchar_t* kStartDownload = L"start_download";
constexpr const wchar_t* kStartInstallPressed = L"downloader_start_install";
constexpr const wchar_t* kStartInstallFail = L"downloader_start_install_fail";
constexpr const wchar_t* kStartInstallSuccess = L"downloader_start_install_success";
constexpr const wchar_t* kDownloadSuccess = L"download_success";
constexpr const wchar_t* kDownloadFail = L"download_fail";
constexpr const wchar_t* kStartInstall = L"start_install";
constexpr const wchar_t* kInstallFail = L"downloader_install_fail";
constexpr const wchar_t* kCompleteInstall = L"complete_install";
constexpr const wchar_t* kCallZud = L"call_zud";
constexpr const wchar_t* kJump = L"downloader_jump";
constexpr const wchar_t* kUserCancel = L"user_cancel";
}  // namespace key

// Member names inside an event's properties object.
namespace property {
constexpr const char* kCancelReason = "cancel_reason";
constexpr const char* kFailureReason = "failure_reason";
constexpr const char* kLinkAddress = "link_address";
}  // namespace property

namespace reason {
// "failure_reason" of "downloader_start_install_fail"
constexpr const wchar_t* kSpaceNotEnough = L"space_notEnough";
constexpr const wchar_t* kPathError = L"path_error";
// "failure_reason" of "download_fail"
constexpr const wchar_t* kNetworkError = L"network_error";
constexpr const wchar_t* kSignatureError = L"signature_error";
constexpr const wchar_t* kUserCancel = L"user_cancel";
// "failure_reason" of "downloader_install_fail"
constexpr const wchar_t* kNoPath = L"no_path";
constexpr const wchar_t* kRunErrorTimeout = L"runerror_timeout";
constexpr const wchar_t* kRunErrorWaitFailed = L"runerror_unknow1";
constexpr const wchar_t* kRunErrorWaitOther = L"runerror_unknow2";
constexpr const wchar_t* kRunErrorPrefix = L"runerror_";    // + Windows error code, unsigned
constexpr const wchar_t* kErrorCodePrefix = L"errorcode_";  // + full installer's code, signed
// "cancel_reason" of "user_cancel"
constexpr const wchar_t* kWinXp = L"win_xp";
constexpr const wchar_t* kWin32 = L"win_32";
constexpr const wchar_t* kDownloading = L"downloading";
constexpr const wchar_t* kInstalled = L"installed";
constexpr const wchar_t* kNormal = L"normal";
}  // namespace reason

}  // namespace report
