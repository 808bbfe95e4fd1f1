// The settings and picture addresses for the installed emulator that an
// operator configuration (fetched for the link's openid) gives. Written once
// on urlThread, read after the full installer has run.
#pragma once

#include <string>

struct GameConfiguration {
  std::wstring runApp;           // "runapp" setting; shortcut arguments
  std::wstring loadingImageH;    // landscape loading picture address
  std::wstring loadingImageV;    // portrait loading picture address
  std::wstring startupTitle;     // "title" setting
  std::wstring shortcutName;     // shortcut and icon name; the window's game name
  std::wstring shortcutIconUrl;  // shortcut icon address
  std::wstring windowIconUrl;    // icon shown in the window
  std::wstring installBg;        // the window's background picture address
  std::wstring wallpaperUrl;     // emulator wallpaper address
  bool adSupport = true;         // "adshow" setting
  bool cleanMode = false;        // "cleanmodel" setting
};
