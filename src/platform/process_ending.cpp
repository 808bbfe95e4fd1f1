// Ending processes by name or id, with or without their descendants.
#include <poll.h>
#include <signal.h>
#include "platform/pidfd.h"
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <set>

#include "platform/case_folding.h"
#include "platform/process_table.h"
#include "platform/processes.h"

namespace platform {
namespace {

constexpr int kFreezeRounds = 20;
constexpr int kDeathWaitMs = 2000;

// A process about to be ended, held by a descriptor so that a reused id can
// never redirect the signal to a newcomer.
struct Target {
  ProcessEntry entry;
  int pidfd = -1;
};

// Opens a descriptor of the process and checks that it is still the one
// the table listed (same start time).
bool pin(const ProcessRecord& record, Target& target) {
  int fd = openPidfd(static_cast<pid_t>(record.entry.pid));
  if (fd < 0) return false;
  ProcessRecord now;
  if (!readProcessRecord(record.entry.pid, now) || now.startTime != record.startTime) {
    ::close(fd);
    return false;
  }
  target.entry = record.entry;
  target.pidfd = fd;
  return true;
}

bool signal(const Target& t, int sig) { return signalPidfd(t.pidfd, sig) == 0; }

// Visible descendants of the pinned targets in the table, not yet pinned.
std::vector<const ProcessRecord*> newDescendants(const std::vector<ProcessRecord>& table,
                                                 const std::set<std::uint32_t>& pinned) {
  std::multimap<std::uint32_t, const ProcessRecord*> children;
  for (const auto& r : table) children.emplace(r.entry.parentPid, &r);
  std::vector<const ProcessRecord*> found;
  std::vector<std::uint32_t> pending(pinned.begin(), pinned.end());
  std::set<std::uint32_t> seen = pinned;
  while (!pending.empty()) {
    std::uint32_t parent = pending.back();
    pending.pop_back();
    auto range = children.equal_range(parent);
    for (auto it = range.first; it != range.second; ++it) {
      std::uint32_t id = it->second->entry.pid;
      if (!seen.insert(id).second) continue;
      found.push_back(it->second);
      pending.push_back(id);
    }
  }
  return found;
}

// Waits (without spinning) until every target has ended, within a bound.
void awaitEnd(const std::vector<Target>& targets) {
  std::vector<pollfd> fds;
  for (const auto& t : targets) fds.push_back({t.pidfd, POLLIN, 0});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeathWaitMs);
  while (!fds.empty()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    int r = poll(fds.data(), fds.size(), static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return;
    fds.erase(std::remove_if(fds.begin(), fds.end(), [](const pollfd& p) { return p.revents; }),
              fds.end());
  }
}

}  // namespace

std::vector<ProcessEntry> endMatchingProcesses(
    const std::function<bool(const ProcessEntry&)>& matches, bool tree, bool force) {
  std::vector<ProcessRecord> table;
  if (!readProcessTable(table, true)) return {};
  const auto self = static_cast<std::uint32_t>(getpid());

  std::vector<Target> targets;
  std::set<std::uint32_t> pinned;
  auto add = [&](const ProcessRecord& r) {
    Target t;
    if (r.entry.pid == self || pinned.count(r.entry.pid) || !pin(r, t)) return false;
    pinned.insert(r.entry.pid);
    targets.push_back(t);
    return true;
  };
  for (const auto& r : table) {
    if (matches(r.entry)) add(r);
  }
  if (tree) {
    // Freeze the whole tree before ending it, so that no member can start a
    // new child between the listing and the kill; repeat until a fresh
    // listing shows no new descendant.
    for (auto& t : targets) signal(t, SIGSTOP);
    for (int round = 0; round < kFreezeRounds; ++round) {
      size_t before = targets.size();
      for (const ProcessRecord* r : newDescendants(table, pinned)) {
        if (add(*r)) signal(targets.back(), SIGSTOP);
      }
      if (targets.size() == before && round > 0) break;
      if (!readProcessTable(table, true)) break;
    }
  }

  std::vector<ProcessEntry> ended;
  std::vector<Target> signalled;
  for (auto& t : targets) {
    if (signal(t, force ? SIGKILL : SIGTERM)) {
      if (!force) signal(t, SIGCONT);  // a frozen process must run to see the request
      ended.push_back(t.entry);
      signalled.push_back(t);
    } else {
      ::close(t.pidfd);
    }
  }
  if (force) awaitEnd(signalled);
  for (auto& t : signalled) ::close(t.pidfd);
  return ended;
}

std::vector<std::uint32_t> endProcessesByName(const std::wstring& exeName, bool tree) {
  std::vector<std::uint32_t> ids;
  auto byName = [&](const ProcessEntry& e) { return equalsIgnoringCase(e.exeName, exeName); };
  for (const auto& e : endMatchingProcesses(byName, tree, true)) ids.push_back(e.pid);
  return ids;
}

}  // namespace platform
