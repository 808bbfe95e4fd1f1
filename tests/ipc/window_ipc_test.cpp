// Window IPC between real processes: standin-post and ipc-sender post to an
// endpoint in this test process or in ipc-receiver children, each test in its
// own sandbox namespace.
#include "utility/window_ipc.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/tasks/ui_dispatcher.h"
#include "ipc/child_process.h"
#include "platform/code_pages.h"
#include "platform/ipc_endpoint.h"
#include "support/sandbox.h"
#include "tasks/task_probes.h"
#include "utility/log.h"

namespace {

using vireo::testing::binPath;
using vireo::testing::ChildProcess;
using vireo::testing::runToEnd;
using vireo::testing::Sandbox;

struct Message {
  unsigned int message;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Message&) const = default;
};

// Records what reaches it; quits the loop when it sees the marker message or
// has seen `quitAfter` messages.
class RecordingHandler : public utility::IWindowIPCHandle {
 public:
  static constexpr unsigned kMarker = 0x7FFF;
  size_t quitAfter = 0;
  std::vector<Message> received;
  int onHandleWindowIPC(unsigned int message, WPARAM wParam, LPARAM lParam) override {
    if (message == kMarker) {
      platform::postQuitMessage(0);
      return 0;
    }
    received.push_back({message, wParam, lParam});
    if (quitAfter && received.size() == quitAfter) platform::postQuitMessage(0);
    return 0;
  }
};

class WindowIpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox.installInProcess();
    UiDispatcher::create();
  }
  std::vector<std::string> profileEnv() const { return {"VIREO_PROFILE=" + sandbox.profilePath()}; }
  int post(const std::string& name, const std::string& message, const std::string& wParam = "0",
           const std::string& lParam = "0") {
    return runToEnd({binPath("standin-post"), "--class", name, message, wParam, lParam}, profileEnv());
  }

  Sandbox sandbox;
  std::string className = "{2266E930-7040-4A6B-B7C8-E44663785cdd}";
};

TEST_F(WindowIpcTest, OnlyNumbersAboveWmUserAndWmCopyDataReachTheHandler) {
  RecordingHandler handler;
  utility::WindowIPC ipc;
  ASSERT_TRUE(ipc.create(platform::utf8ToWide(className), &handler));
  struct Case {
    const char* message;
    const char* wParam;
    bool forwarded;
  };
  const Case cases[] = {
      {"0x3FF", "1", false}, {"0x400", "2", false}, {"0x401", "3", true}, {"0x4A", "4", true},
      {"0x113", "5", false}, {"0", "6", false},     {"11123", "0", true}, {"11124", "-5", true},
  };
  std::vector<Message> expected;
  for (const auto& c : cases) {
    ASSERT_EQ(post(className, c.message, c.wParam, "77"), 0) << c.message;
    if (c.forwarded) {
      expected.push_back({static_cast<unsigned>(std::stoul(c.message, nullptr, 0)),
                          static_cast<WPARAM>(std::stoll(c.wParam)), 77});
    }
  }
  ASSERT_EQ(post(className, std::to_string(RecordingHandler::kMarker)), 0);
  ASSERT_TRUE(vireo::testing::runLoopWithLimit(10000));
  EXPECT_EQ(handler.received, expected);
  EXPECT_EQ(static_cast<int>(handler.received.back().wParam), -5);
}

TEST_F(WindowIpcTest, PostToTheOwnWindowAndAWindowWithoutHandler) {
  RecordingHandler handler;
  utility::WindowIPC own;
  ASSERT_TRUE(own.create(L"own-window", &handler));
  EXPECT_TRUE(own.post(0x401, 1, 2));
  EXPECT_TRUE(own.post(RecordingHandler::kMarker, 0, 0));
  ASSERT_TRUE(vireo::testing::runLoopWithLimit(5000));
  EXPECT_EQ(handler.received, (std::vector<Message>{{0x401, 1, 2}}));

  // No handler stored: messages are dropped, nothing breaks.
  utility::WindowIPC silent;
  ASSERT_TRUE(silent.create(L"silent-window", nullptr));
  EXPECT_EQ(post("silent-window", "0x401"), 0);
  EXPECT_TRUE(own.post(RecordingHandler::kMarker, 0, 0));
  ASSERT_TRUE(vireo::testing::runLoopWithLimit(5000));
  EXPECT_EQ(handler.received.size(), 1u);

  utility::WindowIPC unset;
  EXPECT_FALSE(unset.post(0x401, 0, 0));  // no window stored
}

std::vector<std::string>* capturedLog = nullptr;
void captureLog(const char* function, int, const wchar_t* text) {
  capturedLog->push_back(std::string(function) + ": " + platform::wideToUtf8(text));
}

TEST_F(WindowIpcTest, OpenOfAMissingNameReturnsFalseWithoutALogLine) {
  std::vector<std::string> lines;
  capturedLog = &lines;
  common::setLogHandler(captureLog);
  utility::WindowIPC peer;
  EXPECT_FALSE(peer.open(L"nobody-has-this-class"));
  EXPECT_FALSE(peer.post(11123, 0, 0));
  EXPECT_FALSE(peer.open(platform::utf8ToWide(className), L"a window name"));
  common::setLogHandler(nullptr);
  EXPECT_TRUE(lines.empty()) << lines.front();

  EXPECT_EQ(post("nobody-has-this-class", "0x401"), 1);
  EXPECT_EQ(runToEnd({binPath("standin-post"), "--class", "x", "0x401", "1"}, profileEnv()), 2);
  EXPECT_EQ(runToEnd({binPath("standin-post"), "--class", "x", "1O", "1", "2"}, profileEnv()), 2);
}

TEST_F(WindowIpcTest, ANameHasOneLiveEndpoint) {
  RecordingHandler handler;
  utility::WindowIPC first, second;
  ASSERT_TRUE(first.create(L"taken", &handler));
  EXPECT_FALSE(second.create(L"taken", &handler));
}

TEST_F(WindowIpcTest, MessagesOfEachSenderArriveInOrder) {
  RecordingHandler handler;
  constexpr int kEach = 500;
  handler.quitAfter = 2 * kEach;
  utility::WindowIPC ipc;
  ASSERT_TRUE(ipc.create(L"ordered", &handler));
  std::string count = std::to_string(kEach);
  ChildProcess a({binPath("ipc-sender"), "--class", "ordered", "--message", "0x500", "--count", count}, profileEnv());
  ChildProcess b({binPath("ipc-sender"), "--class", "ordered", "--message", "0x501", "--count", count}, profileEnv());
  ASSERT_TRUE(vireo::testing::runLoopWithLimit(30000));
  EXPECT_EQ(a.wait(), 0);
  EXPECT_EQ(b.wait(), 0);
  std::vector<WPARAM> fromA, fromB;
  for (const auto& m : handler.received) {
    (m.message == 0x500 ? fromA : fromB).push_back(m.wParam);
    EXPECT_EQ(m.lParam, m.message == 0x500 ? a.pid() : b.pid());
  }
  ASSERT_EQ(fromA.size(), static_cast<size_t>(kEach));
  ASSERT_EQ(fromB.size(), static_cast<size_t>(kEach));
  for (int i = 0; i < kEach; ++i) {
    ASSERT_EQ(fromA[i], static_cast<WPARAM>(i));
    ASSERT_EQ(fromB[i], static_cast<WPARAM>(i));
  }
}

// A receiver whose UI thread does not get round to its messages: 10,000 of
// them wait for it (the Windows queue limit), a few more in the socket, and
// then posts are refused. Nothing accepted is lost, and the order holds.
TEST_F(WindowIpcTest, PostsAreRefusedOnlyWhenTheReceiverIsFarBehind) {
  RecordingHandler handler;
  utility::WindowIPC ipc;
  ASSERT_TRUE(ipc.create(L"backlog", &handler));
  ChildProcess sender({binPath("ipc-sender"), "--class", "backlog", "--message", "0x600", "--count", "20000",
                       "--give-up"}, profileEnv());
  auto line = sender.readLine(30000);
  ASSERT_TRUE(line);
  ASSERT_EQ(sender.wait(), 0);
  unsigned long sent = 0, refused = 0;
  ASSERT_EQ(std::sscanf(line->c_str(), "sent %lu refused %lu", &sent, &refused), 2) << *line;
  EXPECT_EQ(refused, 1u);
  EXPECT_GE(sent, platform::kIpcQueueLimit);
  EXPECT_LT(sent, platform::kIpcQueueLimit + 100);
  handler.quitAfter = sent;
  ASSERT_TRUE(vireo::testing::runLoopWithLimit(30000));
  ASSERT_EQ(handler.received.size(), sent);
  for (size_t i = 0; i < sent; ++i) ASSERT_EQ(handler.received[i].wParam, i);
}

TEST_F(WindowIpcTest, APeerKilledWithSigkillLeavesNothingBehind) {
  {
    ChildProcess receiver({binPath("ipc-receiver"), "--class", "phoenix"}, profileEnv());
    ASSERT_EQ(receiver.readLine(), "ready");
    utility::WindowIPC peer;
    ASSERT_TRUE(peer.open(L"phoenix"));
    receiver.signal(SIGKILL);
    ASSERT_EQ(receiver.wait(), -SIGKILL);
    EXPECT_FALSE(peer.post(0x401, 0, 0));  // the window it found is gone
  }
  utility::WindowIPC peer;
  EXPECT_FALSE(peer.open(L"phoenix"));
  RecordingHandler handler;
  utility::WindowIPC reborn;
  EXPECT_TRUE(reborn.create(L"phoenix", &handler));
  ChildProcess again({binPath("ipc-receiver"), "--class", "phoenix2"}, profileEnv());
  EXPECT_EQ(again.readLine(), "ready");
}

TEST_F(WindowIpcTest, TwoNamespacesDoNotSeeEachOther) {
  Sandbox other;
  std::vector<std::string> otherEnv = {"VIREO_PROFILE=" + other.profilePath()};
  ChildProcess here({binPath("ipc-receiver"), "--class", className}, profileEnv());
  ChildProcess there({binPath("ipc-receiver"), "--class", className}, otherEnv);
  ASSERT_EQ(here.readLine(), "ready");
  ASSERT_EQ(there.readLine(), "ready");
  EXPECT_EQ(post(className, "0x401", "1"), 0);
  EXPECT_EQ(runToEnd({binPath("standin-post"), "--class", className, "0x401", "2", "0"}, otherEnv), 0);
  EXPECT_EQ(here.readLine(), "message 1025 wParam 1 lParam 0");
  EXPECT_EQ(there.readLine(), "message 1025 wParam 2 lParam 0");
}

// SIGTERM ends the loop as the quit message does, so the teardown after it
// still runs; also when it arrives before the loop starts.
TEST_F(WindowIpcTest, SigtermEndsTheLoopAndTheTeardownRuns) {
  for (bool beforeRun : {false, true}) {
    std::vector<std::string> argv = {binPath("ipc-receiver"), "--class", "terminated", "--idle-worker"};
    if (beforeRun) argv.push_back("--raise-before-run");
    ChildProcess receiver(argv, profileEnv());
    ASSERT_EQ(receiver.readLine(), "ready");
    if (!beforeRun) {
      EXPECT_EQ(post("terminated", "0x401", "9"), 0);
      EXPECT_EQ(receiver.readLine(), "message 1025 wParam 9 lParam 0");
      receiver.signal(SIGTERM);
    }
    EXPECT_EQ(receiver.readLine(), "teardown") << "signal before run: " << beforeRun;
    EXPECT_EQ(receiver.wait(), 0);
  }
}

// A datagram from another user, aimed straight at the endpoint's address, is
// dropped. Needs root to take another user's identity.
TEST_F(WindowIpcTest, MessagesOfOtherUsersAreDropped) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to post as another user";
  RecordingHandler handler;
  utility::WindowIPC ipc;
  ASSERT_TRUE(ipc.create(L"guarded", &handler));
  std::string name = platform::ipcAddressName(L"guarded");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  struct {
    std::uint32_t magic, message;
    std::uint64_t wParam;
    std::int64_t lParam;
  } wire{0x31504956, 0x401, 66, 0};
  pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) _exit(11);
    _exit(send(fd, &wire, sizeof wire, 0) == sizeof wire ? 0 : 12);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);  // it reached the socket
  EXPECT_EQ(post("guarded", "0x402", "67"), 0);
  EXPECT_EQ(post("guarded", std::to_string(RecordingHandler::kMarker)), 0);
  ASSERT_TRUE(vireo::testing::runLoopWithLimit(10000));
  EXPECT_EQ(handler.received, (std::vector<Message>{{0x402, 67, 0}}));
}

}  // namespace
