// The fixed contracts with the programs of the product family that lie
// outside this installer: the full (offline) installer it runs, the emulator
// it configures and starts, and the values they share with it on the machine.
// Other programs rely on every text here exactly as written.
#pragma once

#include <cstdint>

namespace contract {

// --- The full installer -----------------------------------------------------

// Its command line: the quoted installer path, then
// kSilentParameters + openid + kPathParameter + the quoted install folder.
constexpr const wchar_t* kSilentParameters = L"-silence -downloader -openid=";
constexpr const wchar_t* kPathParameter = L" -path=";

// Longest wait for the full installer's process (milliseconds).
constexpr std::uint32_t kFullInstallerWaitMs = 180000;

// The window class the full installer posts to; it also names the
// single-instance mutex of this installer.
constexpr const wchar_t* kIpcClassName = L"{2266E930-7040-4A6B-B7C8-E44663785cdd}";

// Messages posted to that window.
constexpr unsigned kMsgWakeUp = 11123;           // from a second copy of this installer
constexpr unsigned kMsgInstallError = 11124;     // wParam: the full installer's error code
constexpr unsigned kMsgInstallSucceeded = 11125;
constexpr unsigned kMsgInstallProgress = 11126;  // wParam: progress value

// --- The installed emulator -------------------------------------------------

constexpr const wchar_t* kEmulatorExe = L"varedori.exe";  // its presence marks an installation
constexpr const wchar_t* kConsoleExe = L"bxconsole.exe";

// Processes ended or looked for before installing.
constexpr const wchar_t* kEmulatorProcesses[] = {
    L"varedori.exe",
    L"bxmultiplayer.exe",
    L"bxmultiplayerex.exe",
    L"bugreport.exe",
};

constexpr const wchar_t* kVmsFolder = L"vms";     // marks emulator data in a folder
constexpr const wchar_t* kDataFolder = L"data\\";  // under the install folder
constexpr const wchar_t* kDataIni = L"data.ini";
constexpr const wchar_t* kDataIniSection = L"setting";

// Keys of the "|"-separated key=value argument text the emulator starts with.
constexpr const wchar_t* kArgApk = L"apk=";
constexpr const wchar_t* kArgShow = L"show=true";
constexpr const wchar_t* kArgPackage = L"package=";
constexpr const wchar_t* kArgDownloadApkUrl = L"downloadapkurl=";
constexpr const wchar_t* kArgDownloadGameId = L"downloadgameid=";
constexpr const wchar_t* kArgDownloadPackage = L"downloadpackage=";

// Console commands (bxconsole.exe).
constexpr const wchar_t* kConsoleResolution = L"modify --index 0 --resolution ";
constexpr const wchar_t* kConsoleInstallApk = L"installapk --index 0";
constexpr const wchar_t* kConsoleFileName = L" --filename ";
constexpr const wchar_t* kConsoleWaitHide = L" --wait --hide";

// The emulator's value in the current user's Run key.
constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kRunValueName = L"REVode";

// --- Machine identity, shared with the emulator family ----------------------

// Registry names are narrow (utility::RegKey speaks the ANSI registry API).
constexpr const char* kIdentityKey = "Software\\zk\\varedori";
constexpr const char* kPcidValue = "pcid";      // plain identifier
constexpr const char* kPcidexValue = "pcidex";  // protected identifier
constexpr const wchar_t* kIdentityFile = L"halvard_tallis.data";  // in roaming app data
constexpr const wchar_t* kIdentityMutex = L"{0FD6A4D5-64F8-4417-8717-FDCFAC4728AE}";

// --- Files of this installer under the roaming application-data folder -------

constexpr const wchar_t* kLogFolder = L"\\downloader\\";
constexpr const wchar_t* kLogFile = L"downloader.log";
constexpr const wchar_t* kBrandingFolder = L"vuriviredori";
constexpr const wchar_t* kCacheRecord = L"\\vuriviredori\\cachepath.data";

// The version of this program.
constexpr const wchar_t* kVersion = L"24.12.26";

}  // namespace contract
