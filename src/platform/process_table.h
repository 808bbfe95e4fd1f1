// Reading the host's process table from /proc, and the sandbox rule that
// decides which processes a machine profile lets this program see.
// Internal to the platform layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace platform {

struct ProcessRecord {
  ProcessEntry entry;
  std::uint64_t startTime = 0;  // clock ticks after boot: tells a reused id apart
};

// Every live (non-zombie) process in ascending id order. With visibleOnly,
// only those the profile lets this program see.
bool readProcessTable(std::vector<ProcessRecord>& out, bool visibleOnly);

// Re-reads one process; false when it is gone or a zombie.
bool readProcessRecord(std::uint32_t pid, ProcessRecord& out);

}  // namespace platform
