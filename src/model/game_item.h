// One game to deliver to the installed emulator. The model keeps a list of
// them in the order they were added.
#pragma once

#include <string>

struct GameItem {
  std::wstring apkUrl;       // download address of the game package
  std::wstring packageName;  // Android package name
  std::wstring appName = L"app";  // display name, also the package's local file name
  std::wstring iconUrl;      // icon address for the emulator's app store
  std::wstring resolution;   // screen resolution to set before installing
  std::wstring apkPath;      // local package path
  std::wstring gameId;       // the game's identifier as decimal text
  bool fromAppStore = false;  // the emulator's app store fetches the package itself
  bool isXapk = false;        // an ".xapk" bundle rather than an ".apk"
};
