// The installer's one model: it holds everything the installation needs
// (launch parameters, the full installer's addresses, the install folder,
// progress, the game configuration) and drives the work on worker threads.
// It reports back only through the notification slots that the main window
// (or, without windows, the headless driver) fills; every notification runs
// on the UI thread as a task posted under `taskOwner`.
//
// The members are implemented by responsibility, one source file each:
//   bx_downloader_model.cpp   instance, init, uninit, getters
//   single_instance.cpp       popupExistPwnd
//   install_location.cpp      the install folder
//   player_url_resolution.cpp _threadGetPlayerUrl
//   package_download.cpp      download and verification of the full installer
//   silent_install.cpp        the silent installation
//   process_control.cpp       environment check, ending and starting the emulator
//   game_configuration.cpp    the game configuration and the emulator's customisation
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/tasks/task_owner.h"
#include "app/tasks/ui_timer.h"
#include "app/tasks/worker_thread.h"
#include "model/game_configuration.h"
#include "model/game_item.h"
#include "net/http_downloader.h"
#include "utility/usystem.h"

// Workflow states.
enum ModelState : int {
  kStateIdle = 0,
  kStateDownloading = 1,
  kStateInstalling = 2,
  kStateInstalled = 3,
};

// The full installer's addresses and version as the download-resolution
// answer gives them. Written by urlThread and read by the UI thread: the
// model hands them over under a lock, as whole values.
struct PlayerAddress {
  std::wstring url, urlSpare, version, versionShow;
};

class BXDownloaderModel : public utility::CHttpDownloader::IHttpDownloadSink {
 public:
  // The single instance, created on first use; deleteInstance empties it.
  // When a worker thread had to be let go at teardown, the object is kept
  // alive (never freed) because that thread may still use it.
  static BXDownloaderModel* getInstance();
  static void deleteInstance();

  // --- start-up and teardown (UI thread) -----------------------------------
  // `commandLine` is the text after the program name (null reads none).
  void init(const wchar_t* commandLine);
  void uninit();
  bool popupExistPwnd();  // true when another copy runs (it was woken)

  // --- notification slots, filled by the main window before the loop runs --
  struct Notifications {
    std::function<void(int percent, int received, int total)> onDownloadProgress;
    std::function<void()> onDownloadSucceeded;
    std::function<void()> onDownloadFailed;
    std::function<void(bool started)> onInstallFinished;
    std::function<void(const std::wstring& background, const std::wstring& icon,
                       const std::wstring& name)>
        onAppInfo;
    std::function<void(bool running)> onEnvironmentResult;
    std::function<void()> onNetworkUnavailable;
  } notify;

  // --- what the application hands in (a lower layer never calls up) --------
  // Writes a PNG picture as a Windows icon file (the image layer); empty:
  // no conversion.
  std::function<bool(const std::wstring& pngPath, const std::wstring& iconPath)> writeIconFromPng;

  // --- launch parameters (from the file name) -------------------------------
  std::wstring openid;
  std::wstring packageName;
  std::wstring gameId;
  // Games to deliver, in insertion order (launch parameters or configuration).
  std::vector<GameItem> gameItems;
  // Settings and pictures for the installed emulator (written by urlThread).
  GameConfiguration gameConfig;

  // --- install location (install_location.cpp; UI thread) ------------------
  std::wstring readInstallDir();
  void _calcInstallPath();
  std::wstring getInstallPath() const { return installPath_; }
  std::wstring getPlayerPath() const { return playerPath_; }
  std::wstring getBestPath() const { return bestPath_; }
  bool getBestIsSSD() const { return bestIsSsd_; }
  bool getHasVmData() const { return hasVmData_; }
  void setInstallPath(const std::wstring& path);
  // After an edition switch: recompute the location; for edition 4 take the
  // "zud5" address over.
  void recalcInstallPath();

  // --- the full installer's address (player_url_resolution.cpp) -------------
  void _threadGetPlayerUrl();  // body of urlThread
  // Applies a download-resolution answer to the address fields (steps that
  // read the JSON; pure apart from the fields). Exposed for tests.
  void applyPlayerUrlAnswer(const std::string& answer);
  PlayerAddress getPlayerAddress() const;
  void setPlayerAddress(const PlayerAddress& address);
  PlayerAddress getZud5Address() const;
  std::wstring getShowUrl() const;  // the spare address when set, else the address

  // --- download and verification (package_download.cpp) --------------------
  void startDownloadPlayerEx();     // UI: the install button
  void realDownloadPlayer();        // UI: reuse a verified installer or download
  void _threadDownloadPlayerByIE();  // body of downloadThread
  bool _downloadByUrl(const std::wstring& target);
  bool onDownloadProgress(const char* chunk, std::uint32_t length, std::int64_t received,
                          std::int64_t total) override;
  int getDownloadPercent() const { return downloadPercent_; }

  // --- silent install and process control (silent_install.cpp, process_control.cpp)
  void startInstall();               // UI
  void _threadInstallPlayer();       // body of installThread
  std::wstring installParameters() const;  // "-silence -downloader -openid=... -path=\"...\""
  void runPlayer(const std::wstring& arguments);  // UI
  void _threadCheckMainExe(bool endRunningEmulator);  // body of checkThread
  void startEnvironmentCheck();      // UI: the main window's initialisation
  void restartEnvironmentCheck();    // UI
  void killMainExe();                // UI

  // --- game configuration (game_configuration.cpp) --------------------------
  void _getPackageByOpenID();  // on urlThread, when no game came with the launch
  void _initAppInfoForCN(const std::string& reply);
  void applyGameConfig();      // on installThread after the full installer
  void createApkShortCut();
  void runGame();

  // --- workflow state --------------------------------------------------------
  int getState() const { return state_.load(); }
  bool getInstallLaunched() const { return installLaunched_.load(); }

  OwnerKey taskKey() const { return taskOwner_.key(); }

  BXDownloaderModel(const BXDownloaderModel&) = delete;
  BXDownloaderModel& operator=(const BXDownloaderModel&) = delete;

 private:
  BXDownloaderModel() = default;
  ~BXDownloaderModel() = default;

  void readFileNameParameters();
  void readCommandLineParameters(const wchar_t* commandLine);

  // Posts a task to the UI thread under taskOwner_.
  void postToUi(std::function<void()> task);

  // package_download.cpp
  void defaultAddressTick();
  void postProgress(std::int64_t received, std::int64_t total);

  // install location
  std::wstring installPath_;
  std::wstring playerPath_;
  bool hasVmData_ = false;
  std::wstring bestPath_;
  bool bestIsSsd_ = false;

  // addresses
  mutable std::mutex addressMutex_;
  PlayerAddress player_;
  PlayerAddress zud5_;

  // workflow
  std::atomic<int> state_{kStateIdle};
  std::atomic<bool> installLaunched_{false};
  int downloadPercent_ = 0;               // UI thread only
  std::uint32_t lastProgressTick_ = 0;    // downloadThread only
  utility::usystem::MutexHandle instanceMutex_;
  TaskOwner taskOwner_;
  UiTimer defaultUrlTimer_;

  WorkerThread urlThread_;
  WorkerThread downloadThread_;
  WorkerThread installThread_;
  WorkerThread checkThread_;
  // True once a thread was let go at teardown: the object must stay alive.
  bool threadLetGo_ = false;

  utility::CHttpDownloader urlDownloader_;
  utility::CHttpDownloader primaryDownloader_;
  utility::CHttpDownloader spareDownloader_;

  // --- bx_downloader_model.cpp ---------------------------------------------
  // Stops a worker thread within the "threadStop" limit; one that does not
  // end in time is let go and threadLetGo_ is set.
  void stopWithinLimit(WorkerThread& thread);

  // --- player_url_resolution.cpp -------------------------------------------
  // The answer text: the local override file, else the second stack, else
  // libcurl; empty when all fail.
  std::string fetchPlayerUrlAnswer();
  // Interrupts the resolution's transfers and stops urlThread (UI thread).
  void stopUrlThread();

  // --- package_download.cpp ------------------------------------------------
  // The libcurl fall-back of downloadThread; posts the outcome.
  void downloadByCurl(const std::wstring& target, const std::wstring& url);
  // A finished download is handed on only when its signature holds; one that
  // fails is moved aside and reported. Posts the outcome.
  void finishVerifiedDownload(const std::wstring& target);
  void postDownloadOutcome(bool succeeded);
  bool downloadStopping() const;
  // Set at teardown: aborts the libcurl fall-back (never cleared).
  std::atomic<bool> downloadCancel_{false};
};
