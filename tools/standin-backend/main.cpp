// standin-backend: the product's back-end services for tests and the demo,
// on 127.0.0.1 only. See options.cpp for the command line and
// backend_service.h for what it serves.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include <httplib.h>

#include "backend_service.h"
#include "options.h"
#include "stop_flag.h"

namespace {

constexpr const char* kHost = "127.0.0.1";
constexpr std::size_t kWorkerThreads = 64;
// A client that pauses reading (a test holding a download) is given time
// before its connection is dropped; cpp-httplib's default is 5 s.
constexpr time_t kWriteTimeoutSeconds = 30;
// Time the workers get to finish after SIGTERM before the process ends anyway
// (an idle keep-alive connection holds its worker for up to 5 s).
constexpr auto kShutdownGrace = std::chrono::seconds(2);

std::unique_ptr<httplib::Server> makeServer(const standin::Options& options) {
  if (options.tlsCertificate.empty()) return std::make_unique<httplib::Server>();
  return std::make_unique<httplib::SSLServer>(options.tlsCertificate.c_str(),
                                              options.tlsKey.c_str());
}

// Blocks SIGTERM and SIGINT in every thread; one thread waits for them.
sigset_t blockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a client that hangs up must not end the server
  return set;
}

void watchStopSignals(sigset_t set, httplib::Server& server) {
  int signalNumber = 0;
  sigwait(&set, &signalNumber);
  standin::requestStop();
  server.stop();
  std::this_thread::sleep_for(kShutdownGrace);
  std::fflush(nullptr);
  _exit(0);
}

int run(const standin::Options& options) {
  standin::FileTree tree(options.root);
  if (!tree.valid()) {
    std::fprintf(stderr, "standin-backend: --root %s is not a folder\n", options.root.c_str());
    return 2;
  }
  standin::FaultTable faults;
  for (const auto& spec : options.faults) {
    std::string error;
    auto rule = standin::parseFaultRule(spec, error);
    if (!rule) {
      std::fprintf(stderr, "standin-backend: %s\n", error.c_str());
      return 2;
    }
    faults.add(std::move(*rule));
  }
  standin::JsonLinesFile records, requests;
  if (!records.open(options.recordFile) || !requests.open(options.requestsFile)) {
    std::fprintf(stderr, "standin-backend: cannot open the record or requests file\n");
    return 1;
  }

  const sigset_t stopSignals = blockStopSignals();
  auto server = makeServer(options);
  if (!server->is_valid()) {
    std::fprintf(stderr, "standin-backend: cannot load the TLS certificate %s or key %s\n",
                 options.tlsCertificate.c_str(), options.tlsKey.c_str());
    return 1;
  }
  server->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  server->set_tcp_nodelay(true);
  server->set_write_timeout(kWriteTimeoutSeconds);
  server->set_payload_max_length(64 * 1024 * 1024);

  standin::BackendService service(std::move(tree), faults, records, requests, options.control);
  service.install(*server);

  int port = options.port;
  if (port == 0) {
    port = server->bind_to_any_port(kHost);
  } else if (!server->bind_to_port(kHost, port)) {
    port = -1;
  }
  if (port <= 0) {
    std::fprintf(stderr, "standin-backend: cannot listen on %s:%d\n", kHost, options.port);
    return 1;
  }
  std::printf("listening on %s:%d\n", kHost, port);
  std::fflush(stdout);

  std::thread watcher(watchStopSignals, stopSignals, std::ref(*server));
  watcher.detach();
  const bool ok = server->listen_after_bind();
  return ok || standin::stopRequested() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = standin::parseOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "standin-backend: %s\n%s", error.c_str(), standin::kUsage);
    return 2;
  }
  return run(*options);
}
