#include "platform/event_loop_plain.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/clock.h"
#include "platform/event_loop_signals.h"
#include "platform/last_error.h"

namespace platform {
namespace {

constexpr UINT kTimerMinimumMs = 10;  // USER_TIMER_MINIMUM
constexpr UINT kTimerMaximumMs = 0x7FFFFFFF;

std::uint64_t monotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

}  // namespace

PlainEventLoop::PlainEventLoop(bool handleTerminationSignals)
    : loopThread_(currentThreadId()) {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (handleTerminationSignals) signalFd_ = detail::terminationSignalFd();
}

PlainEventLoop::~PlainEventLoop() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

WindowId PlainEventLoop::createWindow(WindowProcedure procedure) {
  std::lock_guard<std::mutex> lock(mutex_);
  WindowId id = ++lastWindow_;
  windows_.emplace(id, std::make_shared<WindowProcedure>(std::move(procedure)));
  return id;
}

void PlainEventLoop::destroyWindow(WindowId window) {
  std::lock_guard<std::mutex> lock(mutex_);
  windows_.erase(window);
  std::erase_if(timers_, [window](const Timer& t) { return t.window == window; });
}

bool PlainEventLoop::postMessage(WindowId window, UINT message, WPARAM wParam, LPARAM lParam) {
  bool needWake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!windows_.count(window)) {
      setLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    queue_.push_back({window, message, wParam, lParam});
    if (!wakePending_) {
      wakePending_ = true;
      needWake = true;
    }
  }
  if (needWake) wake();
  return true;
}

bool PlainEventLoop::setTimer(WindowId window, TimerId id, UINT intervalMs) {
  intervalMs = std::clamp(intervalMs, kTimerMinimumMs, kTimerMaximumMs);
  std::uint64_t intervalNs = static_cast<std::uint64_t>(intervalMs) * 1000000u;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!windows_.count(window)) {
      setLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    std::erase_if(timers_, [&](const Timer& t) { return t.window == window && t.id == id; });
    timers_.push_back({window, id, intervalNs, monotonicNs() + intervalNs, ++lastTimerSerial_});
  }
  // A loop asleep in poll computed its time-out without this timer.
  if (!isLoopThread()) wake();
  return true;
}

bool PlainEventLoop::killTimer(WindowId window, TimerId id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto removed = std::erase_if(timers_, [&](const Timer& t) { return t.window == window && t.id == id; });
  return removed > 0;
}

WatchId PlainEventLoop::watchReadable(int fd, std::function<void()> onReadable) {
  WatchId id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = ++lastWatch_;
    watches_.emplace(id, Watch{fd, std::make_shared<std::function<void()>>(std::move(onReadable))});
  }
  if (!isLoopThread()) wake();
  return id;
}

void PlainEventLoop::unwatch(WatchId watch) {
  std::lock_guard<std::mutex> lock(mutex_);
  watches_.erase(watch);
}

void PlainEventLoop::quit(int code) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quitRequested_ = true;
    quitCode_ = code;
  }
  wake();
}

bool PlainEventLoop::isLoopThread() const { return loopThread_.load() == currentThreadId(); }

void PlainEventLoop::wake() {
  std::uint64_t one = 1;
  ssize_t ignored = write(wakeFd_, &one, sizeof one);
  (void)ignored;
}

void PlainEventLoop::drainWake() {
  std::uint64_t count;
  ssize_t ignored = read(wakeFd_, &count, sizeof count);
  (void)ignored;
}

bool PlainEventLoop::quitPending() {
  if (signalFd_ >= 0 && detail::takeTerminationRequest()) {
    std::lock_guard<std::mutex> lock(mutex_);
    quitRequested_ = true;
    quitCode_ = 0;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return quitRequested_;
}

void PlainEventLoop::deliver(WindowId window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<WindowProcedure> procedure;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return;  // destroyed meanwhile: dropped
    procedure = it->second;
  }
  (*procedure)(message, wParam, lParam);
}

// One batch: what was queued when it began. Messages posted meanwhile wait
// for the next batch, so timers and descriptors get their turn.
void PlainEventLoop::deliverPosted() {
  std::deque<Posted> batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(queue_);
    wakePending_ = false;
  }
  while (!batch.empty()) {
    Posted p = batch.front();
    batch.pop_front();
    deliver(p.window, p.message, p.wParam, p.lParam);
    if (!batch.empty() && quitPending()) {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.insert(queue_.begin(), batch.begin(), batch.end());
      return;
    }
  }
}

void PlainEventLoop::fireDueTimers() {
  std::vector<Timer> due;
  std::uint64_t now = monotonicNs();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& t : timers_) {
      if (t.dueNs <= now) due.push_back(t);
    }
  }
  std::sort(due.begin(), due.end(), [](const Timer& a, const Timer& b) { return a.dueNs < b.dueNs; });
  for (const auto& d : due) {
    if (quitPending()) return;
    {
      // An earlier tick may have killed or set this timer again.
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = std::find_if(timers_.begin(), timers_.end(),
                             [&](const Timer& t) { return t.serial == d.serial; });
      if (it == timers_.end()) continue;
      // A late tick is not made up for: the next one is an interval away.
      it->dueNs = monotonicNs() + it->intervalNs;
    }
    deliver(d.window, WM_TIMER, d.id, 0);
  }
}

int PlainEventLoop::pollTimeoutMs() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!queue_.empty() || quitRequested_) return 0;
  if (timers_.empty()) return -1;
  std::uint64_t nearest = UINT64_MAX;
  for (const auto& t : timers_) nearest = std::min(nearest, t.dueNs);
  std::uint64_t now = monotonicNs();
  if (nearest <= now) return 0;
  // Rounded up: waking a little early would only spin until the tick is due.
  std::uint64_t ms = (nearest - now + 999999) / 1000000;
  return static_cast<int>(std::min<std::uint64_t>(ms, INT_MAX));
}

void PlainEventLoop::waitForWork() {
  std::vector<pollfd> fds;
  std::vector<WatchId> watchIds;
  fds.push_back({wakeFd_, POLLIN, 0});
  if (signalFd_ >= 0) fds.push_back({signalFd_, POLLIN, 0});
  size_t firstWatch = fds.size();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, w] : watches_) {
      fds.push_back({w.fd, POLLIN, 0});
      watchIds.push_back(id);
    }
  }
  int ready = poll(fds.data(), fds.size(), pollTimeoutMs());
  if (ready <= 0) return;  // time-out, or EINTR: the caller looks again
  if (fds[0].revents) drainWake();
  if (signalFd_ >= 0 && fds[1].revents) detail::drainTerminationSignalFd();
  for (size_t i = firstWatch; i < fds.size(); ++i) {
    if (!fds[i].revents) continue;
    if (quitPending()) return;
    std::shared_ptr<std::function<void()>> callback;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = watches_.find(watchIds[i - firstWatch]);
      if (it == watches_.end()) continue;
      callback = it->second.callback;
    }
    (*callback)();
  }
}

int PlainEventLoop::run() {
  if (running_.exchange(true)) return -1;
  loopThread_.store(currentThreadId());
  while (!quitPending()) {
    deliverPosted();
    if (quitPending()) break;
    fireDueTimers();
    if (quitPending()) break;
    waitForWork();
  }
  int code;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    code = quitCode_;
    quitRequested_ = false;
    quitCode_ = 0;
  }
  running_.store(false);
  return code;
}

}  // namespace platform
