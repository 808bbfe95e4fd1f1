#include "app/tasks/ui_timer.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "tasks/task_probes.h"

namespace {

using vireo::testing::probe;
using vireo::testing::ProbeCounts;
using vireo::testing::runLoopFor;

class UiTimerTest : public ::testing::Test {
 protected:
  void SetUp() override { UiDispatcher::create(); }
  std::shared_ptr<ProbeCounts> counts = std::make_shared<ProbeCounts>();
};

TEST_F(UiTimerTest, RepeatsUntilKilledAndReleasesItsTaskOnce) {
  UiTimer timer;
  std::uint32_t uiThread = platform::currentThreadId();
  bool onUiThread = true;
  ASSERT_TRUE(timer.start(20, probe(counts, [&] { onUiThread &= platform::currentThreadId() == uiThread; })));
  runLoopFor(300);
  timer.kill();
  int runs = counts->runs;
  EXPECT_GE(runs, 5);
  EXPECT_LE(runs, 16);
  EXPECT_TRUE(onUiThread);
  EXPECT_EQ(counts->releases, 1);
  timer.kill();  // safe to repeat
  runLoopFor(100);
  EXPECT_EQ(counts->runs, runs);
  EXPECT_EQ(counts->releases, 1);
}

TEST_F(UiTimerTest, ATaskThatKillsItsOwnTimerRunsOnceAndIsReleasedAfterItsRun) {
  UiTimer timer;
  int releasesSeenInsideRun = -1;
  ASSERT_TRUE(timer.start(10, probe(counts, [&] {
    timer.kill();
    releasesSeenInsideRun = counts->releases;
  })));
  runLoopFor(150);
  EXPECT_EQ(counts->runs, 1);
  EXPECT_EQ(releasesSeenInsideRun, 0);
  EXPECT_EQ(counts->releases, 1);
  EXPECT_FALSE(timer.isActive());
}

TEST_F(UiTimerTest, ATaskMayKillAnotherTimerWhichIsReleasedAtOnce) {
  auto victimCounts = std::make_shared<ProbeCounts>();
  UiTimer victim, killer;
  ASSERT_TRUE(victim.start(1000, probe(victimCounts)));
  int victimReleasesInsideRun = -1;
  ASSERT_TRUE(killer.start(10, probe(counts, [&] {
    victim.kill();
    victimReleasesInsideRun = victimCounts->releases;
    killer.kill();
  })));
  runLoopFor(100);
  EXPECT_EQ(victimReleasesInsideRun, 1);
  EXPECT_EQ(victimCounts->runs, 0);
  EXPECT_EQ(counts->releases, 1);
}

TEST_F(UiTimerTest, StartRules) {
  UiTimer timer;
  auto refused = std::make_shared<ProbeCounts>();
  EXPECT_FALSE(timer.start(0, probe(refused)));  // released, not kept
  EXPECT_EQ(refused->releases, 1);
  EXPECT_FALSE(timer.start(10, nullptr));
  EXPECT_FALSE(timer.isActive());

  // Starting again replaces the timer: the first task is released unrun.
  auto first = std::make_shared<ProbeCounts>();
  ASSERT_TRUE(timer.start(1000, probe(first)));
  ASSERT_TRUE(timer.start(10, probe(counts, [&] { timer.kill(); })));
  EXPECT_EQ(first->releases, 1);
  runLoopFor(100);
  EXPECT_EQ(first->runs, 0);
  EXPECT_EQ(counts->runs, 1);
  EXPECT_EQ(counts->releases, 1);
}

TEST_F(UiTimerTest, DispatcherTimerIdentifiersCountUpAndUnknownOnesAreRefused) {
  auto a = UiDispatcher::setTimer(1000, probe(counts));
  auto b = UiDispatcher::setTimer(1000, probe(counts));
  EXPECT_GT(a, 0u);
  EXPECT_EQ(b, a + 1);
  EXPECT_TRUE(UiDispatcher::killTimer(a));
  EXPECT_FALSE(UiDispatcher::killTimer(a));
  EXPECT_TRUE(UiDispatcher::killTimer(b));
  EXPECT_FALSE(UiDispatcher::killTimer(b + 100));
  EXPECT_EQ(counts->releases, 2);
}

TEST_F(UiTimerTest, DestroyingTheHandleKillsTheTimer) {
  {
    UiTimer timer;
    ASSERT_TRUE(timer.start(10, probe(counts)));
  }
  EXPECT_EQ(counts->releases, 1);
  runLoopFor(60);
  EXPECT_EQ(counts->runs, 0);
}

}  // namespace
