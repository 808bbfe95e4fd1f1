#include "platform/sync_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using platform::SyncEvent;

TEST(SyncEventTest, AutoResetLetsOneWaitThroughPerSet) {
  SyncEvent event(SyncEvent::Reset::Auto);
  EXPECT_EQ(event.wait(0), WAIT_TIMEOUT);
  event.set();
  EXPECT_EQ(event.wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(event.wait(0), WAIT_TIMEOUT);

  std::atomic<int> through{0};
  std::thread a([&] { through += event.wait(500) == WAIT_OBJECT_0; });
  std::thread b([&] { through += event.wait(500) == WAIT_OBJECT_0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  event.set();
  a.join();
  b.join();
  EXPECT_EQ(through, 1);
}

TEST(SyncEventTest, ManualResetStaysSignalledUntilReset) {
  SyncEvent event(SyncEvent::Reset::Manual, true);
  EXPECT_EQ(event.wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(event.wait(INFINITE), WAIT_OBJECT_0);
  event.reset();
  EXPECT_EQ(event.wait(0), WAIT_TIMEOUT);
}

TEST(SyncEventTest, TimedWaitEndsAfterItsTime) {
  SyncEvent event;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(event.wait(200), WAIT_TIMEOUT);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(195));
  EXPECT_LT(waited, std::chrono::milliseconds(1500));
}

}  // namespace
