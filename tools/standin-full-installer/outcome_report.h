// What the full installer tells the installer that runs it: window messages
// to the installer's IPC window (contract::kIpcClassName), 11126 with a
// progress value, then 11125 on success or 11124 with an error code.
#pragma once

#include <cstdint>

#include "utility/window_ipc.h"

namespace standin {

class OutcomeReport {
 public:
  // `stepPauseMs`: how long each step of a slow installation takes.
  explicit OutcomeReport(std::uint32_t stepPauseMs) : stepPauseMs_(stepPauseMs) {}

  void progress(int percent);          // and then the step's pause
  void failed(std::int32_t errorCode);
  void succeeded();

 private:
  void post(unsigned message, WPARAM wParam);

  std::uint32_t stepPauseMs_;
  utility::WindowIPC peer_;
  bool found_ = false;
};

}  // namespace standin
