#include "app/tasks/worker_thread.h"

#include <atomic>
#include <mutex>
#include <system_error>

// Everything a running thread touches of its WorkerThread; shared by the
// WorkerThread and the thread, so it outlives whichever lets go first.
struct WorkerThread::State {
  const WorkerThread* owner = nullptr;  // identity only, never followed
  Runable* task = nullptr;
  std::atomic<bool> stopRequested{false};
  platform::SyncEvent wake{platform::SyncEvent::Reset::Auto};
  platform::SyncEvent finished{platform::SyncEvent::Reset::Manual};
  std::mutex mutex;
  bool ended = false;      // run() has returned
  bool abandoned = false;  // the WorkerThread let go: the thread releases the task
};

namespace {

thread_local WorkerThread::State* currentState = nullptr;

void threadBody(std::shared_ptr<WorkerThread::State> state) {
  currentState = state.get();
  state->task->run();
  bool releaseHere;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->ended = true;
    releaseHere = state->abandoned;
  }
  state->finished.set();
  if (releaseHere) state->task->release();
  currentState = nullptr;
}

}  // namespace

WorkerThread::~WorkerThread() {
  if (!stop(INFINITE) && thread_.joinable()) letGo();  // destroyed by its own task
}

bool WorkerThread::start(Runable* task) {
  if (!task) return false;
  if (state_) {
    task->release();
    return false;
  }
  // In place before the thread exists: the task may call stop() or
  // isStopping() at once.
  state_ = std::make_shared<State>();
  state_->owner = this;
  state_->task = task;
  try {
    thread_ = std::thread(threadBody, state_);
  } catch (const std::system_error&) {
    state_.reset();
    task->release();
    return false;
  }
  return true;
}

bool WorkerThread::stop(DWORD timeoutMs) {
  if (currentState && currentState->owner == this) return false;  // cannot wait for itself
  if (!state_) return true;
  requestStop();
  state_->finished.wait(timeoutMs);
  bool ended;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ended = state_->ended;
    if (!ended) state_->abandoned = true;
  }
  if (ended) {
    thread_.join();
    state_->task->release();
  } else {
    thread_.detach();
  }
  state_.reset();
  return ended;
}

void WorkerThread::letGo() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->ended) state_->abandoned = true;
  }
  thread_.detach();
  state_.reset();
}

WorkerThread::State* WorkerThread::stateForCaller() const {
  // The task's own thread always sees its own block, even after its
  // WorkerThread let it go and started another one.
  if (currentState && currentState->owner == this) return currentState;
  return state_.get();
}

void WorkerThread::requestStop() {
  State* state = stateForCaller();
  if (!state) return;
  state->stopRequested.store(true);
  state->wake.set();
}

bool WorkerThread::isStopping() const {
  State* state = stateForCaller();
  return state && state->stopRequested.load();
}

platform::SyncEvent* WorkerThread::wakeEvent() const {
  State* state = stateForCaller();
  return state ? &state->wake : nullptr;
}

DWORD WorkerThread::waitWake(DWORD timeoutMs) const {
  platform::SyncEvent* event = wakeEvent();
  return event ? event->wait(timeoutMs) : WAIT_FAILED;
}
