// The main window's decisions about the install folder, kept apart from the
// window: completing a chosen folder with the edition's folder names, the
// advice to move to the solid-state or a roomier drive, the warning before
// leaving an existing installation, and the check before installing. Each
// function answers with data (texts, buttons and what each button leads to);
// the window only shows what is decided here and runs the follow-ups.
//
//   auto change = path_rules::changePathClac(*model, false, chosen);
//   if (change.shownPath) { pathEdit.setText(*change.shownPath); updateInstallPage(); }
//   if (change.advice) showChoiceBox(*change.advice);  // each button: runFollowUp
//
// UI thread only.
#pragma once

#include <optional>
#include <string>

class BXDownloaderModel;

namespace path_rules {

// Thresholds in MiB.
constexpr double kAdviceFreeMiB = 17408;  // 17 GiB: below it the space advice
constexpr double kInstallFreeMiB = 8192;  // 8 GiB: needed to start an installation

// What pressing a button of a box (or closing it) leads to.
struct FollowUp {
  enum class Action {
    Nothing,
    ApplyPath,   // applyInstallPath(path)
    ChangePath,  // changePathClac(skipAdvice, path), see runFollowUp
    Browse,      // open the folder browser (the window's own)
  };
  Action action = Action::Nothing;
  std::wstring path;
  bool skipAdvice = false;
  // The re-run after the solid-state advice was declined: it goes straight
  // to the remaining advice instead of first testing whether the folder
  // already is the install folder (after the first run it always is).
  bool afterDeclinedAdvice = false;
};

// A box with two buttons: the dismissing one (left) and the accepting one.
struct ChoiceBox {
  std::wstring title;
  std::wstring text;
  std::wstring declineButton;
  std::wstring acceptButton;
  FollowUp onDecline;  // also when the box is closed
  FollowUp onAccept;
};

// A box with one button that only closes it.
struct NoticeBox {
  std::wstring title;
  std::wstring text;
  std::wstring button;
};

// The outcome of a change of folder.
struct PathChange {
  // Set when a folder was applied: the window puts it into the path box and
  // refreshes the set-up page (install button text, path-error notice).
  std::optional<std::wstring> shownPath;
  std::optional<ChoiceBox> advice;
};

// Completes the folder with the edition's sub-folder or product name, tidies
// a valid result (backslashes, no doubled ones, no outer spaces, a final
// "\") and stores it in the model. Returns the stored folder, or nothing when
// the folder already is the model's install path. Accepts "\" and "/".
std::optional<std::wstring> applyInstallPath(BXDownloaderModel& model, const std::wstring& path);

// The user chose a folder: with the folder browser (skipAdvice false) or by
// typing it into the path box (skipAdvice true). Nothing happens for the
// install folder itself or a folder below it; otherwise the folder is
// applied and at most one advice box follows.
PathChange changePathClac(BXDownloaderModel& model, bool skipAdvice,
                          const std::wstring& chosenPath);

// Runs an ApplyPath or ChangePath follow-up; Nothing and Browse give an
// empty outcome (Browse is the window's to carry out).
PathChange runFollowUp(BXDownloaderModel& model, const FollowUp& followUp);

// The change-folder button: a warning box when the user is about to leave
// an existing installation; nothing when the browser may open at once.
std::optional<ChoiceBox> onChangePathClicked(const BXDownloaderModel& model);

// The check when the user starts the installation.
struct StartCheck {
  bool accepted = false;
  // A refusal shows either a language-table message (title "MsgBox_error",
  // the confirm button) or the notice box.
  std::wstring languageMessage;
  std::optional<NoticeBox> notice;
  // The "failure_reason" of the "downloader_start_install_fail" event that
  // was reported; empty when none was.
  std::wstring failureReason;
};
// Refuses without an accepted agreement, for an invalid folder and, unless
// the folder already holds an installation, with less than 8 GiB free.
// Reports the refusals of the folder.
StartCheck canStartInstall(const BXDownloaderModel& model, bool agreementAccepted);

}  // namespace path_rules
