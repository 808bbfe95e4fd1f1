// Start-up errors, the worker pool, and ending on SIGTERM.
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "backend_fixture.h"

extern char** environ;

namespace vireo::testing {
namespace {

// Runs the server with `arguments` (it is expected to refuse them) and
// returns its exit code.
int exitCodeOf(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), standinBackendProgram());
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  for (int waited = 0; waited < 1000; ++waited) {  // at most 10 s
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

TEST(LifecycleTest, RefusesBadCommandLinesAndABusyPort) {
  ServedTree tree;
  EXPECT_EQ(exitCodeOf({}), 2);
  EXPECT_EQ(exitCodeOf({"--root"}), 2);
  EXPECT_EQ(exitCodeOf({"--root", tree.root(), "--bogus"}), 2);
  EXPECT_EQ(exitCodeOf({"--root", tree.root(), "--port", "70000"}), 2);
  EXPECT_EQ(exitCodeOf({"--root", tree.folder() + "/missing"}), 2);
  EXPECT_EQ(exitCodeOf({"--root", tree.root(), "--fault", "/x:explode"}), 2);

  const int busy = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(busy, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(busy, 1), 0);
  socklen_t length = sizeof address;
  getsockname(busy, reinterpret_cast<sockaddr*>(&address), &length);
  EXPECT_EQ(exitCodeOf({"--root", tree.root(), "--port", std::to_string(ntohs(address.sin_port))}),
            1);
  close(busy);
}

TEST(LifecycleTest, ServesOthersWhileManyRequestsStall) {
  ServedTree tree;
  BackendOptions options;
  options.faults = {"/zk/tallisex:stall-before=3000"};
  BackendProcess backend(tree.root(), options);
  ASSERT_TRUE(backend.running());

  std::vector<std::future<FetchResult>> stalled;
  for (int i = 0; i < 12; ++i) {  // more than cpp-httplib's default of 8 workers
    stalled.push_back(std::async(std::launch::async,
                                 [&] { return fetch(backend.baseUrl() + "/zk/tallisex"); }));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto other = fetch(backend.baseUrl() + "/zky/xukeXieyi.html");
  EXPECT_EQ(other.status, 200);
  EXPECT_LT(other.seconds, 2.0);  // with 8 workers it would wait ~2.8 s
  for (auto& request : stalled) EXPECT_EQ(request.get().body, ServedTree::kTallisex);
}

TEST(LifecycleTest, EndsPromptlyOnSigtermEvenWithStalledAndSlowTransfers) {
  ServedTree tree;
  BackendOptions options;
  options.faults = {"/zk/tallisex:stall-before=60000", "/download/*:throttle=1000"};
  BackendProcess backend(tree.root(), options);
  ASSERT_TRUE(backend.running());

  auto stalled = std::async(std::launch::async, [&] { return fetch(backend.baseUrl() + "/zk/tallisex"); });
  auto slow = std::async(std::launch::async,
                         [&] { return fetch(backend.baseUrl() + ServedTree::kInstallerPath); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(backend.stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
  EXPECT_NE(stalled.get().body, ServedTree::kTallisex);  // answered 503 or cut
  EXPECT_NE(slow.get().code, CURLE_OK);
}

}  // namespace
}  // namespace vireo::testing
