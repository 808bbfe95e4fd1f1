#include "app/tasks/worker_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "platform/clock.h"
#include "platform/sync_event.h"
#include "tasks/task_probes.h"

namespace {

using Clock = std::chrono::steady_clock;
using vireo::testing::probe;
using vireo::testing::ProbeCounts;

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(WorkerThreadTest, RunsTheTaskOnceAndReleasesItAtStop) {
  auto counts = std::make_shared<ProbeCounts>();
  platform::SyncEvent ran;
  WorkerThread thread;
  ASSERT_TRUE(thread.start(probe(counts, [&] { ran.set(); })));
  ASSERT_EQ(ran.wait(5000), WAIT_OBJECT_0);
  EXPECT_TRUE(thread.stop(INFINITE));
  EXPECT_EQ(counts->runs, 1);
  EXPECT_EQ(counts->releases, 1);
  EXPECT_TRUE(thread.stop(1000));  // nothing held: safe
  EXPECT_EQ(counts->releases, 1);
}

TEST(WorkerThreadTest, StartIsRefusedWhileAnEndedThreadIsStillHeld) {
  auto first = std::make_shared<ProbeCounts>();
  auto refused = std::make_shared<ProbeCounts>();
  platform::SyncEvent ended;
  WorkerThread thread;
  ASSERT_TRUE(thread.start(probe(first, [&] { ended.set(); })));
  ASSERT_EQ(ended.wait(5000), WAIT_OBJECT_0);
  platform::sleepMs(20);  // the thread has surely returned by now
  EXPECT_FALSE(thread.start(probe(refused)));
  EXPECT_EQ(refused->runs, 0);
  EXPECT_EQ(refused->releases, 1);  // a refused task is released, never leaked
  EXPECT_EQ(first->releases, 0);    // held until stop
  EXPECT_TRUE(thread.stop(1000));
  EXPECT_EQ(first->releases, 1);
  auto again = std::make_shared<ProbeCounts>();
  EXPECT_TRUE(thread.start(probe(again)));
  EXPECT_TRUE(thread.stop(5000));
  EXPECT_EQ(again->runs, 1);
}

TEST(WorkerThreadTest, AStopRequestWakesATaskWaitingOnItsWakeEvent) {
  auto counts = std::make_shared<ProbeCounts>();
  WorkerThread thread;
  DWORD waitResult = 0;
  bool stoppingSeen = false;
  platform::SyncEvent waiting;
  ASSERT_TRUE(thread.start(probe(counts, [&] {
    waiting.set();
    waitResult = thread.waitWake(30000);
    stoppingSeen = thread.isStopping();
  })));
  ASSERT_EQ(waiting.wait(5000), WAIT_OBJECT_0);
  EXPECT_FALSE(thread.isStopping());
  auto start = Clock::now();
  thread.requestStop();
  EXPECT_TRUE(thread.isStopping());
  EXPECT_TRUE(thread.stop(5000));
  EXPECT_LT(msSince(start), 2000);
  EXPECT_EQ(waitResult, WAIT_OBJECT_0);
  EXPECT_TRUE(stoppingSeen);
  EXPECT_FALSE(thread.isStopping());  // cleared by stop
  EXPECT_EQ(thread.wakeEvent(), nullptr);
  EXPECT_EQ(counts->releases, 1);
}

TEST(WorkerThreadTest, StopAsksTheTaskToStop) {
  WorkerThread thread;
  auto counts = std::make_shared<ProbeCounts>();
  ASSERT_TRUE(thread.start(probe(counts, [&] {
    while (!thread.isStopping()) thread.waitWake(30000);
  })));
  auto start = Clock::now();
  EXPECT_TRUE(thread.stop(10000));
  EXPECT_LT(msSince(start), 2000);
  EXPECT_EQ(counts->releases, 1);
}

// A task blocked in a wait that ignores the stop request: stop gives up after
// its time-out and lets the thread go. The thread's task stays alive until
// it returns and is then released by the thread; under the address sanitizer
// this shows that nothing it uses has been freed meanwhile.
struct BlockedTaskProbe {
  platform::SyncEvent entered{platform::SyncEvent::Reset::Manual};
  platform::SyncEvent unblock{platform::SyncEvent::Reset::Manual};
  platform::SyncEvent finished{platform::SyncEvent::Reset::Manual};
  std::atomic<bool> sawStopping{false};
};

TEST(WorkerThreadTest, StopWithATimeOutLetsABlockedThreadGoAfterTheTimeOut) {
  auto counts = std::make_shared<ProbeCounts>();
  auto blocked = std::make_shared<BlockedTaskProbe>();
  auto thread = std::make_unique<WorkerThread>();
  WorkerThread* self = thread.get();
  ASSERT_TRUE(thread->start(probe(counts, [blocked, self, alive = std::string(64, 'x')] {
    blocked->entered.set();
    blocked->unblock.wait(INFINITE);  // ignores the wake event
    // Still its own: the stop flag of its own block, its captured values.
    blocked->sawStopping = self->isStopping() && alive.size() == 64;
    blocked->finished.set();
  })));
  ASSERT_EQ(blocked->entered.wait(5000), WAIT_OBJECT_0);

  auto start = Clock::now();
  EXPECT_FALSE(thread->stop(1000));
  long long waited = msSince(start);
  EXPECT_GE(waited, 950);
  EXPECT_LT(waited, 3000);
  EXPECT_EQ(counts->releases, 0);  // still in use by the thread

  // The owner keeps its WorkerThread (as owners must after a false stop) and
  // may even reuse it; the old thread keeps seeing its own state.
  auto second = std::make_shared<ProbeCounts>();
  EXPECT_TRUE(thread->start(probe(second)));
  EXPECT_TRUE(thread->stop(5000));
  EXPECT_EQ(second->releases, 1);

  blocked->unblock.set();
  ASSERT_EQ(blocked->finished.wait(5000), WAIT_OBJECT_0);
  EXPECT_TRUE(blocked->sawStopping);
  for (int i = 0; i < 500 && counts->releases == 0; ++i) platform::sleepMs(10);
  EXPECT_EQ(counts->runs, 1);
  EXPECT_EQ(counts->releases, 1);  // released by the thread itself
}

TEST(WorkerThreadTest, ALetGoThreadOutlivesItsWorkerThreadObject) {
  auto counts = std::make_shared<ProbeCounts>();
  auto blocked = std::make_shared<BlockedTaskProbe>();
  {
    WorkerThread thread;
    ASSERT_TRUE(thread.start(probe(counts, [blocked] {
      blocked->entered.set();
      blocked->unblock.wait(INFINITE);
      blocked->finished.set();
    })));
    ASSERT_EQ(blocked->entered.wait(5000), WAIT_OBJECT_0);
    EXPECT_FALSE(thread.stop(100));
  }  // destroyed while its thread still runs
  blocked->unblock.set();
  ASSERT_EQ(blocked->finished.wait(5000), WAIT_OBJECT_0);
  for (int i = 0; i < 500 && counts->releases == 0; ++i) platform::sleepMs(10);
  EXPECT_EQ(counts->releases, 1);
}

TEST(WorkerThreadTest, StopFromTheThreadItselfIsRefused) {
  WorkerThread thread;
  auto counts = std::make_shared<ProbeCounts>();
  std::atomic<int> ownStop{-1};
  platform::SyncEvent done;
  ASSERT_TRUE(thread.start(probe(counts, [&] {
    ownStop = thread.stop(0) ? 1 : 0;
    done.set();
  })));
  ASSERT_EQ(done.wait(5000), WAIT_OBJECT_0);
  EXPECT_EQ(ownStop, 0);
  EXPECT_TRUE(thread.stop(5000));
  EXPECT_EQ(counts->releases, 1);
}

TEST(WorkerThreadTest, MemberFunctionTasks) {
  struct Model {
    int calls = 0;
    bool lastFlag = false;
    std::wstring lastText;
    void body() { ++calls; }
    void withFlag(bool flag) { lastFlag = flag; ++calls; }
    void withText(const std::wstring& text) { lastText = text; ++calls; }
  } model;
  std::wstring text = L"first";
  WorkerThread a, b, c;
  ASSERT_TRUE(a.start(new MemberFuncRunable(&model, &Model::body)));
  ASSERT_TRUE(a.stop(5000));
  ASSERT_TRUE(b.start(new MemberFuncRunable1(&model, &Model::withFlag, true)));
  ASSERT_TRUE(b.stop(5000));
  Runable* task = new MemberFuncRunable1(&model, &Model::withText, text);
  text = L"changed";  // the argument was copied in
  ASSERT_TRUE(c.start(task));
  ASSERT_TRUE(c.stop(5000));
  EXPECT_EQ(model.calls, 3);
  EXPECT_TRUE(model.lastFlag);
  EXPECT_EQ(model.lastText, L"first");
}

}  // namespace
