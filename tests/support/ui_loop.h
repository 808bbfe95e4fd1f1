// Runs the process's UI loop in a test until a condition holds.
#pragma once

#include <cstdint>
#include <functional>

namespace vireo::testing {

// Runs platform::uiLoop() until `done` holds (checked every 10 ms) or the
// limit passes; true when `done` held.
bool runLoopUntil(const std::function<bool()>& done, std::uint32_t limitMs);

}  // namespace vireo::testing
