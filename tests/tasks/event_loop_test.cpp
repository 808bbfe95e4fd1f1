#include "platform/event_loop.h"

#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace {

using platform::EventLoop;
using platform::TimerId;
using platform::WindowId;

struct Received {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Received&) const = default;
};

class PlainLoopTest : public ::testing::Test {
 protected:
  std::unique_ptr<EventLoop> loop = platform::makePlainEventLoop();
  std::vector<Received> received;

  WindowId recordingWindow() {
    return loop->createWindow([this](UINT m, WPARAM w, LPARAM l) {
      received.push_back({m, w, l});
      return LRESULT{0};
    });
  }
  // Ends the loop from its own queue after what is queued now.
  void quitAfterQueued(int code = 0) {
    WindowId quitter = loop->createWindow([this, code](UINT, WPARAM, LPARAM) {
      loop->quit(code);
      return LRESULT{0};
    });
    loop->postMessage(quitter, WM_USER, 0, 0);
  }
};

TEST_F(PlainLoopTest, PostedMessagesArriveInOrderAndRunReturnsTheQuitCode) {
  WindowId w = recordingWindow();
  for (UINT i = 0; i < 3; ++i) ASSERT_TRUE(loop->postMessage(w, WM_USER + i, i, -static_cast<LPARAM>(i)));
  quitAfterQueued(7);
  EXPECT_EQ(loop->run(), 7);
  EXPECT_EQ(received, (std::vector<Received>{{WM_USER, 0, 0}, {WM_USER + 1, 1, -1}, {WM_USER + 2, 2, -2}}));
}

TEST_F(PlainLoopTest, QuitLeavesTheRestQueuedForTheNextRun) {
  WindowId w = recordingWindow();
  WindowId quitter = loop->createWindow([this](UINT, WPARAM, LPARAM) {
    loop->quit(0);
    return LRESULT{0};
  });
  loop->postMessage(w, 1, 0, 0);
  loop->postMessage(quitter, 0, 0, 0);
  loop->postMessage(w, 2, 0, 0);
  loop->run();
  EXPECT_EQ(received.size(), 1u);
  quitAfterQueued();
  loop->run();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].message, 2u);
}

TEST_F(PlainLoopTest, QuitBeforeRunAndNestedRunReturnAtOnce) {
  loop->quit(3);
  EXPECT_EQ(loop->run(), 3);
  int nested = 0;
  WindowId w = loop->createWindow([&](UINT, WPARAM, LPARAM) {
    nested = loop->run();
    loop->quit(0);
    return LRESULT{0};
  });
  loop->postMessage(w, 0, 0, 0);
  loop->run();
  EXPECT_EQ(nested, -1);
}

TEST_F(PlainLoopTest, MessagesForADestroyedWindowAreDroppedAndNewPostsRefused) {
  WindowId w = recordingWindow();
  loop->postMessage(w, 1, 0, 0);
  loop->destroyWindow(w);
  EXPECT_FALSE(loop->postMessage(w, 2, 0, 0));
  EXPECT_FALSE(loop->setTimer(w, 1, 10));
  quitAfterQueued();
  loop->run();
  EXPECT_TRUE(received.empty());
  WindowId other = recordingWindow();
  EXPECT_NE(other, w);  // handles are not reused
}

TEST_F(PlainLoopTest, TimersTickWithTheirIdentifierAndCanBeRestartedAndKilled) {
  std::vector<TimerId> ticks;
  WindowId w = 0;
  w = loop->createWindow([&](UINT m, WPARAM id, LPARAM) {
    if (m != WM_TIMER) return LRESULT{0};
    ticks.push_back(id);
    if (id == 5 && ticks.size() == 1) loop->setTimer(w, 5, 20);  // restart
    if (ticks.size() == 4) {
      EXPECT_TRUE(loop->killTimer(w, 5));
      EXPECT_TRUE(loop->killTimer(w, 6));
      EXPECT_FALSE(loop->killTimer(w, 6));
      loop->quit(0);
    }
    return LRESULT{0};
  });
  ASSERT_TRUE(loop->setTimer(w, 5, 10));
  ASSERT_TRUE(loop->setTimer(w, 6, 1000000));
  loop->run();
  EXPECT_EQ(ticks, (std::vector<TimerId>{5, 5, 5, 5}));
}

TEST_F(PlainLoopTest, AWatchedDescriptorCallsBackOnTheLoopThread) {
  int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  ASSERT_GE(fd, 0);
  std::thread::id loopThread;
  platform::WatchId watch = 0;
  watch = loop->watchReadable(fd, [&] {
    std::uint64_t value;
    ASSERT_EQ(read(fd, &value, sizeof value), static_cast<ssize_t>(sizeof value));
    loopThread = std::this_thread::get_id();
    loop->unwatch(watch);
    loop->quit(static_cast<int>(value));
  });
  std::thread writer([fd] {
    std::uint64_t value = 42;
    ssize_t ignored = write(fd, &value, sizeof value);
    (void)ignored;
  });
  EXPECT_EQ(loop->run(), 42);
  writer.join();
  EXPECT_EQ(loopThread, std::this_thread::get_id());
  close(fd);
}

}  // namespace
