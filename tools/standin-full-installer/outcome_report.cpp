#include "outcome_report.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "config/installer_contract.h"

namespace standin {

void OutcomeReport::post(unsigned message, WPARAM wParam) {
  // Found once; a missing receiver is looked for again at the next message.
  if (!found_) found_ = peer_.open(contract::kIpcClassName);
  if (!found_ || !peer_.post(message, wParam, 0)) {
    std::fprintf(stderr, "full installer: message %u not delivered (no installer window)\n", message);
    found_ = false;
  }
}

void OutcomeReport::progress(int percent) {
  post(contract::kMsgInstallProgress, static_cast<WPARAM>(percent));
  if (stepPauseMs_) std::this_thread::sleep_for(std::chrono::milliseconds(stepPauseMs_));
}

void OutcomeReport::failed(std::int32_t errorCode) {
  // wParam carries the signed 32-bit code as Windows would sign-extend it.
  post(contract::kMsgInstallError, static_cast<WPARAM>(static_cast<LPARAM>(errorCode)));
}

void OutcomeReport::succeeded() { post(contract::kMsgInstallSucceeded, 0); }

}  // namespace standin
