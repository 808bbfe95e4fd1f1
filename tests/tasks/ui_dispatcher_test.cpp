#include "app/tasks/ui_dispatcher.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "app/tasks/task_owner.h"
#include "platform/clock.h"
#include "tasks/task_probes.h"

namespace {

using vireo::testing::probe;
using vireo::testing::ProbeCounts;
using vireo::testing::runLoopWithLimit;
using vireo::testing::runPostedTasks;

class UiDispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { UiDispatcher::create(); }
  std::shared_ptr<ProbeCounts> counts = std::make_shared<ProbeCounts>();
};

TEST_F(UiDispatcherTest, TasksOfACancelledOwnerAreReleasedWithoutRunning) {
  OwnerKey a = newOwnerKey();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(UiDispatcher::post(a, probe(counts)));
  UiDispatcher::cancel(a);
  // Posted after the cancellation: released unrun as well.
  EXPECT_TRUE(UiDispatcher::post(a, probe(counts)));
  ASSERT_TRUE(runPostedTasks());
  EXPECT_EQ(counts->runs, 0);
  EXPECT_EQ(counts->releases, 4);
}

TEST_F(UiDispatcherTest, OtherOwnersAndTheDefaultOwnerKeepRunning) {
  OwnerKey cancelled = newOwnerKey();
  OwnerKey other = newOwnerKey();
  auto otherCounts = std::make_shared<ProbeCounts>();
  auto defaultCounts = std::make_shared<ProbeCounts>();
  UiDispatcher::post(cancelled, probe(counts));
  UiDispatcher::post(other, probe(otherCounts));
  UiDispatcher::cancel(cancelled);
  UiDispatcher::cancel(kDefaultOwnerKey);  // refused
  UiDispatcher::postDefault(probe(defaultCounts));
  UiDispatcher::post(kDefaultOwnerKey, probe(defaultCounts));
  ASSERT_TRUE(runPostedTasks());
  EXPECT_EQ(counts->runs, 0);
  EXPECT_EQ(otherCounts->runs, 1);
  EXPECT_EQ(defaultCounts->runs, 2);
  EXPECT_EQ(counts->releases + otherCounts->releases + defaultCounts->releases, 4);
}

// An object that cancels before it ever posted must still never see a task
// run: a thread it let go may post for it later.
TEST_F(UiDispatcherTest, CancellingAnOwnerThatNeverPostedIsFinal) {
  OwnerKey quiet = newOwnerKey();
  UiDispatcher::cancel(quiet);
  UiDispatcher::post(quiet, probe(counts));
  ASSERT_TRUE(runPostedTasks());
  EXPECT_EQ(counts->runs, 0);
  EXPECT_EQ(counts->releases, 1);
}

TEST_F(UiDispatcherTest, DestroyingATaskOwnerCancelsItsTasks) {
  OwnerKey key;
  {
    TaskOwner owner;
    key = owner.key();
    UiDispatcher::post(key, probe(counts));
  }
  UiDispatcher::post(key, probe(counts));
  ASSERT_TRUE(runPostedTasks());
  EXPECT_EQ(counts->runs, 0);
  EXPECT_EQ(counts->releases, 2);
  TaskOwner first, second;
  EXPECT_NE(first.key(), second.key());
  EXPECT_NE(first.key(), kDefaultOwnerKey);
}

TEST_F(UiDispatcherTest, TasksRunOnTheUiThreadInPostingOrderAndMayPostAgain) {
  std::vector<int> order;
  OwnerKey owner = newOwnerKey();
  for (int i = 0; i < 5; ++i) {
    UiDispatcher::post(owner, new FunctionRunable([&order, i, owner] {
      order.push_back(i);
      // The second hop lands after everything already queued.
      if (i == 0) UiDispatcher::post(owner, new FunctionRunable([&order] { order.push_back(100); }));
    }));
  }
  ASSERT_TRUE(runPostedTasks());
  // The quit task was queued before the second hop, so that one runs later.
  ASSERT_TRUE(runPostedTasks());
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 100}));
}

TEST_F(UiDispatcherTest, TasksFromSeveralThreadsKeepEachThreadsOrder) {
  constexpr int kThreads = 4, kEach = 2000;
  std::map<int, std::vector<int>> seen;  // UI thread only
  std::uint32_t uiThread = platform::currentThreadId();
  std::atomic<int> delivered{0};
  std::atomic<bool> allOnUiThread{true};
  OwnerKey owner = newOwnerKey();
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        UiDispatcher::post(owner, new FunctionRunable([&, t, i] {
          if (platform::currentThreadId() != uiThread) allOnUiThread = false;
          seen[t].push_back(i);
          if (++delivered == kThreads * kEach) platform::postQuitMessage(0);
        }));
      }
    });
  }
  bool finished = runLoopWithLimit(20000);
  for (auto& p : posters) p.join();
  ASSERT_TRUE(finished);
  EXPECT_TRUE(allOnUiThread);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kEach));
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST_F(UiDispatcherTest, AnEmptyTaskIsRefused) {
  EXPECT_FALSE(UiDispatcher::post(newOwnerKey(), nullptr));
  EXPECT_FALSE(UiDispatcher::postDefault(nullptr));
  EXPECT_EQ(UiDispatcher::setTimer(10, nullptr), 0u);
}

TEST_F(UiDispatcherTest, TimersAreRefusedOffTheUiThreadAndTheirTaskReleased) {
  UiDispatcher::TimerId id = 1;
  std::thread([&] { id = UiDispatcher::setTimer(10, probe(counts)); }).join();
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(counts->releases, 1);
  EXPECT_EQ(counts->runs, 0);
}

}  // namespace
