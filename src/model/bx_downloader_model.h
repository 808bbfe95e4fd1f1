// The installer's one model: it holds what the installation needs and, as the
// workflow grows, drives it on worker threads. So far it reads the launch
// parameters and the machine identifier.
#pragma once

#include <string>
#include <vector>

#include "model/game_item.h"

class BXDownloaderModel {
 public:
  // The single instance, created on first use; deleteInstance empties it.
  static BXDownloaderModel* getInstance();
  static void deleteInstance();

  // Start-up, on the UI thread: `commandLine` is the text after the program
  // name (null reads no command line).
  void init(const wchar_t* commandLine);
  // Teardown, on the UI thread.
  void uninit();

  // Launch parameters from the file name.
  std::wstring openid;
  std::wstring packageName;
  std::wstring gameId;
  // Games to deliver, in insertion order.
  std::vector<GameItem> gameItems;

  BXDownloaderModel(const BXDownloaderModel&) = delete;
  BXDownloaderModel& operator=(const BXDownloaderModel&) = delete;

 private:
  BXDownloaderModel() = default;
  ~BXDownloaderModel() = default;

  void readFileNameParameters();
  void readCommandLineParameters(const wchar_t* commandLine);
};
