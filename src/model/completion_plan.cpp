#include "model/completion_plan.h"

#include "config/installer_contract.h"
#include "model/bx_downloader_model.h"

namespace {

using Action = CompletionPlan::Action;

// "apk=" + local package path + "|show=true" + "|package=" + package name.
std::wstring handOverPrefix(const GameItem& item) {
  return std::wstring(contract::kArgApk) + item.apkPath + L"|" + contract::kArgShow + L"|" +
         contract::kArgPackage + item.packageName;
}

// What the emulator's app store needs to fetch the game itself.
std::wstring appStoreDownloadPart(const GameItem& item) {
  return item.apkUrl + L";S.package=" + item.packageName + L";S.appname=" + item.appName +
         L";S.appicon=" + item.iconUrl + L";S.appsize=96";
}

bool needsGamePage(const GameItem& item) {
  return !item.fromAppStore && item.gameId.empty() &&
         (item.packageName.empty() || !item.apkUrl.empty());
}

}  // namespace

std::wstring gameItemArguments(const GameItem& item) {
  if (item.fromAppStore) {
    return handOverPrefix(item) + L"|" + contract::kArgDownloadApkUrl + appStoreDownloadPart(item);
  }
  if (!item.gameId.empty()) {
    return handOverPrefix(item) + L"|" + contract::kArgDownloadGameId + item.gameId;
  }
  if (needsGamePage(item)) return {};
  return handOverPrefix(item) + L"|" + contract::kArgDownloadPackage + item.packageName;
}

CompletionPlan planInstallFinished(const CompletionFacts& facts) {
  CompletionPlan plan;
  if (facts.installError) {
    plan.ignore = true;
    return plan;
  }
  plan.fillProgressBar = facts.success;

  if (!facts.launchGameId.empty()) {
    plan.action = Action::RunGameWithShortcut;
    plan.hideAndQuit = true;
    return plan;
  }
  if (!facts.gameItems.empty()) {
    const GameItem& item = facts.gameItems.front();
    if (needsGamePage(item)) {
      plan.action = Action::GamePage;
      plan.gameItem = item;
      return plan;
    }
    plan.action = Action::RunPlayer;
    plan.playerArguments = gameItemArguments(item);
    plan.hideAndQuit = true;
    return plan;
  }
  if (!facts.launchPackage.empty()) {
    plan.action = Action::RunGame;
    plan.hideAndQuit = true;
    return plan;
  }
  plan.action = facts.success ? Action::FinishPage : Action::StayOnProgressPage;
  plan.finished = true;
  return plan;
}

CompletionFacts completionFactsOf(const BXDownloaderModel& model, bool installError, bool success) {
  CompletionFacts facts;
  facts.installError = installError;
  facts.success = success;
  facts.launchGameId = model.gameId;
  facts.launchPackage = model.packageName;
  facts.gameItems = model.gameItems;
  return facts;
}
