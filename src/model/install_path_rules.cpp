#include "model/install_path_rules.h"

#include <cwchar>
#include <initializer_list>

#include "config/config_imp.h"
#include "config/installer_contract.h"
#include "model/bx_downloader_model.h"
#include "report/event_reports.h"
#include "utility/disk.h"
#include "utility/log.h"
#include "utility/ufile.h"
#include "utility/ustring.h"

namespace path_rules {
namespace {

// The log lines belong to the window's step that makes these decisions.
constexpr const char* kChangePathFunction = "BXDownloaderMainFrame::changePathClac";

constexpr const wchar_t* kAdviceTitle = L"安装建议";
constexpr const wchar_t* kSsdAdviceText =
    L"检测到%s盘是机械硬盘，会使模拟器卡顿、加载慢。需要换成更流畅的固态硬盘(%s盘)吗？";
constexpr const wchar_t* kSpaceAdviceText =
    L"该目录磁盘空间不足，会影响安装游戏和下载资源，需要换成空间更大的%s盘吗？";
constexpr const wchar_t* kNoThanks = L"不，谢谢";
constexpr const wchar_t* kOk = L"好的";
constexpr const wchar_t* kNoticeTitle = L"提示";
constexpr const wchar_t* kLeaveInstallationText =
    L"检测到已安装模拟器，更改路径将无法读取已有数据。确定更改吗？";
constexpr const wchar_t* kCancel = L"取消";
constexpr const wchar_t* kConfirm = L"确定";
constexpr const wchar_t* kSpaceRefusalText = L"该目录磁盘空间不足8GB，请清理后重试";
constexpr const wchar_t* kIKnow = L"我知道了";
constexpr const wchar_t* kAgreementMessage = L"MsgBox_accept_protocol";
constexpr const wchar_t* kPathErrorMessage = L"MsgBox_error_path";
constexpr const wchar_t* kTallis = L"tallis";
constexpr const wchar_t* kEmulatorWord = L"varedori";

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool endsWithSeparator(const std::wstring& path) {
  return !path.empty() && isSeparator(path.back());
}

// PathIsRootW: "\" or a drive root such as "D:\".
bool isRoot(const std::wstring& path) {
  if (path.size() == 1) return isSeparator(path[0]);
  return path.size() == 3 && path[1] == L':' && isSeparator(path[2]);
}

// Found, and not at the very start (a match at position 0 counts as absent).
bool containsAfterStart(const std::wstring& text, const std::wstring& word) {
  size_t at = text.find(word);
  return at != std::wstring::npos && at != 0;
}

std::wstring drivePrefix(const std::wstring& path) { return path.substr(0, 2); }

// Fills the "%s" places of a text in order.
std::wstring fill(const wchar_t* format, std::initializer_list<std::wstring> values) {
  std::wstring out = format;
  size_t from = 0;
  for (const auto& value : values) {
    size_t at = out.find(L"%s", from);
    if (at == std::wstring::npos) break;
    out.replace(at, 2, value);
    from = at + value.size();
  }
  return out;
}

// Appends the edition's names unless the folder already names the product.
std::wstring completeWithEditionFolder(std::wstring path) {
  const ConfigImp* config = ConfigImp::getInstance();
  if (!endsWithSeparator(path)) path += L"\\";
  if (isRoot(path)) return path + config->getInstallSubDir();
  std::wstring lower = path;
  utility::ustring::toLower(lower);
  size_t tallis = lower.find(kTallis);
  if (tallis != std::wstring::npos && tallis + std::wcslen(kTallis) + 1 == lower.size()) {
    return path + config->getPlayerName();
  }
  if (!containsAfterStart(path, config->getBrandName()) &&
      !containsAfterStart(path, kEmulatorWord)) {
    return path + config->getInstallSubDir();
  }
  return path;
}

// Backslashes only, doubled ones made single in one pass from the left, no
// outer spaces, a final backslash.
std::wstring tidy(const std::wstring& path) {
  std::wstring slashes = path;
  for (auto& c : slashes) {
    if (c == L'/') c = L'\\';
  }
  std::wstring single;
  for (size_t i = 0; i < slashes.size(); ++i) {
    single += slashes[i];
    if (slashes[i] == L'\\' && i + 1 < slashes.size() && slashes[i + 1] == L'\\') ++i;
  }
  std::wstring out = utility::ustring::trim(single);
  if (out.empty() || out.back() != L'\\') out += L'\\';
  return out;
}

// The chosen folder is the install folder or lies below it. Separators are
// skipped when comparing, but the match must end at a component boundary:
// D:\tallis\Vireo99 is not below D:\tallis\Vireo9\.
bool isInstallFolderOrBelow(const std::wstring& installPath, const std::wstring& chosen) {
  if (!utility::ustring::pathHasPrefix(installPath, chosen)) return false;
  size_t at = 0;
  for (wchar_t c : installPath) {
    if (isSeparator(c)) continue;
    while (at < chosen.size() && isSeparator(chosen[at])) ++at;
    ++at;  // matched, as pathHasPrefix found
  }
  return at >= chosen.size() || isSeparator(chosen[at]);
}

ChoiceBox adviceBox(std::wstring text, FollowUp onDecline, FollowUp onAccept) {
  return {kAdviceTitle, std::move(text), kNoThanks, kOk, std::move(onDecline), std::move(onAccept)};
}

FollowUp applyPath(const std::wstring& path) {
  FollowUp f;
  f.action = FollowUp::Action::ApplyPath;
  f.path = path;
  return f;
}

PathChange changePath(BXDownloaderModel& model, bool skipAdvice, const std::wstring& chosen,
                      bool testInstallFolder) {
  PathChange change;
  if (testInstallFolder && isInstallFolderOrBelow(model.getInstallPath(), chosen)) return change;
  const std::wstring oldPath = model.getInstallPath();
  change.shownPath = applyInstallPath(model, chosen);

  const std::wstring drive = drivePrefix(chosen);
  if (!skipAdvice && drive == drivePrefix(oldPath)) {
    VLOG_AS(kChangePathFunction, L"same path ");
    return change;
  }
  const std::wstring best = model.getBestPath();
  if (best.size() >= 3 && drive == drivePrefix(best)) {
    VLOG_AS(kChangePathFunction, L"same best path");
    return change;
  }
  if (!skipAdvice && model.getBestIsSSD() && !best.empty() && !helper::disk::isSSD(drive)) {
    FollowUp decline;
    decline.action = FollowUp::Action::ChangePath;
    decline.path = chosen;
    decline.skipAdvice = true;
    decline.afterDeclinedAdvice = true;
    change.advice = adviceBox(fill(kSsdAdviceText, {chosen.substr(0, 1), best.substr(0, 1)}),
                              decline, applyPath(best));
    return change;
  }
  if (helper::disk::getFreeSpaceMB(chosen) < kAdviceFreeMiB) {
    VLOG_AS(kChangePathFunction, L"left 17G");
    const std::wstring suggestion = best.empty() ? oldPath : best;
    change.advice = adviceBox(fill(kSpaceAdviceText, {suggestion.substr(0, 1)}), FollowUp{},
                              applyPath(suggestion));
  }
  return change;
}

}  // namespace

std::optional<std::wstring> applyInstallPath(BXDownloaderModel& model, const std::wstring& path) {
  if (path == model.getInstallPath()) return std::nullopt;
  std::wstring result = completeWithEditionFolder(path);
  if (helper::disk::isValidPath(result)) result = tidy(result);
  model.setInstallPath(result);
  return result;
}

PathChange changePathClac(BXDownloaderModel& model, bool skipAdvice,
                          const std::wstring& chosenPath) {
  return changePath(model, skipAdvice, chosenPath, true);
}

PathChange runFollowUp(BXDownloaderModel& model, const FollowUp& followUp) {
  switch (followUp.action) {
    case FollowUp::Action::ApplyPath: {
      PathChange change;
      change.shownPath = applyInstallPath(model, followUp.path);
      return change;
    }
    case FollowUp::Action::ChangePath:
      return changePath(model, followUp.skipAdvice, followUp.path, !followUp.afterDeclinedAdvice);
    case FollowUp::Action::Nothing:
    case FollowUp::Action::Browse:
      break;
  }
  return {};
}

std::optional<ChoiceBox> onChangePathClicked(const BXDownloaderModel& model) {
  const std::wstring playerPath = model.getPlayerPath();
  if (playerPath.empty() || playerPath != model.getInstallPath()) return std::nullopt;
  FollowUp browse;
  browse.action = FollowUp::Action::Browse;
  return ChoiceBox{kNoticeTitle, kLeaveInstallationText, kCancel, kConfirm, FollowUp{}, browse};
}

StartCheck canStartInstall(const BXDownloaderModel& model, bool agreementAccepted) {
  StartCheck check;
  if (!agreementAccepted) {
    check.languageMessage = kAgreementMessage;
    return check;
  }
  const std::wstring path = model.getInstallPath();
  if (!helper::disk::isValidPath(path)) {
    check.languageMessage = kPathErrorMessage;
    check.failureReason = report::reason::kPathError;
    report::reportFailure(report::key::kStartInstallFail, check.failureReason);
    return check;
  }
  // Folders applied by the window end with a separator; one read from the
  // registry may not, and still holds its installation.
  const std::wstring emulator =
      path + (endsWithSeparator(path) ? L"" : L"\\") + contract::kEmulatorExe;
  if (utility::ufile::isExist(emulator) || helper::disk::getDiskFreeMB(path) >= kInstallFreeMiB) {
    check.accepted = true;
    return check;
  }
  check.notice = NoticeBox{kNoticeTitle, kSpaceRefusalText, kIKnow};
  check.failureReason = report::reason::kSpaceNotEnough;
  report::reportFailure(report::key::kStartInstallFail, check.failureReason);
  return check;
}

}  // namespace path_rules
