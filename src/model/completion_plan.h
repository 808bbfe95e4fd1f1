// The main window's decision when the installation has ended, kept apart
// from the window: whether to start the emulator (and with which argument
// text), to launch for the launch parameters, to open the game page and
// deliver a game, or to stay on the finish page. The window (or the headless
// frame) only carries out the plan.
//
//   CompletionPlan plan = planInstallFinished(installError, success, *model);
//   if (plan.ignore) return;
//   progressTimer.kill(); if (plan.fillProgressBar) bar.setValue(100);
//   switch (plan.action) { ... }
//
// Pure: reads the model's launch parameters and game items, changes nothing.
#pragma once

#include <string>
#include <vector>

#include "model/game_item.h"

class BXDownloaderModel;

struct CompletionPlan {
  enum class Action {
    // The launch parameters name a game: BXDownloaderModel::runGame, hide
    // the window, BXDownloaderModel::createApkShortCut, quit.
    RunGameWithShortcut,
    // A game item goes to the emulator: BXDownloaderModel::runPlayer with
    // `playerArguments`, hide the window, quit.
    RunPlayer,
    // The game page (page 2) with "正在下载游戏 ...": the window downloads and
    // installs `gameItem` on its game thread; it stays open.
    GamePage,
    // The launch parameters name a package: BXDownloaderModel::runGame,
    // hide the window, quit.
    RunGame,
    // Nothing to deliver, installed: the finish page (page 3).
    FinishPage,
    // Nothing to deliver, the installation failed: the window stays on the
    // progress page.
    StayOnProgressPage,
  };

  // The full installer reported an error before: nothing at all happens.
  bool ignore = false;
  // On success the progress bar shows 100 (the progress timer stops in
  // every case that is not ignored).
  bool fillProgressBar = false;
  Action action = Action::StayOnProgressPage;
  std::wstring playerArguments;  // RunPlayer
  GameItem gameItem;             // GamePage: the item to deliver
  // The window hides itself and posts the quit message after the action.
  bool hideAndQuit = false;
  // The window's `finished` flag is set (finish page or frozen progress).
  bool finished = false;
};

// The facts the decision rests on.
struct CompletionFacts {
  bool installError = false;    // the window was marked by message 11124
  bool success = false;         // onInstallFinished's argument
  std::wstring launchGameId;    // the model's game identifier (launch parameters)
  std::wstring launchPackage;   // the model's package name
  std::vector<GameItem> gameItems;
};

CompletionPlan planInstallFinished(const CompletionFacts& facts);

// The facts of the model as it stands, with the window's two flags.
CompletionFacts completionFactsOf(const BXDownloaderModel& model, bool installError, bool success);

// The emulator's argument text for a game item handed over on start:
// "apk=" + local package path + "|show=true|package=" + package name, then
// "|downloadapkurl=" + the store's download part (app-store items),
// "|downloadgameid=" + identifier (items with one), or
// "|downloadpackage=" + package name (a package without address). Empty for
// an item that needs the game page instead.
std::wstring gameItemArguments(const GameItem& item);
