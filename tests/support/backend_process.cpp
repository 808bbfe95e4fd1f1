#include "support/backend_process.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace vireo::testing {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(10);

std::string makeTemporaryFolder(const char* tag) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + tag + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return {};
  return buffer.data();
}

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> waitForLines(const std::string& path, std::size_t count,
                                      std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto lines = readLines(path);
    if (lines.size() >= count || std::chrono::steady_clock::now() >= until) return lines;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Reads the first line the child writes, within the start time-out.
std::string readFirstLine(int fd) {
  std::string line;
  const auto until = std::chrono::steady_clock::now() + kStartTimeout;
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    line.append(buffer, static_cast<std::size_t>(n));
  }
  return line.substr(0, line.find('\n'));
}

// Waits for the child; -1 when it did not end in time.
int waitForExit(int pid, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Starts `argv` with its standard output on a pipe; the child ends with us.
int spawnWithPipedOutput(const std::vector<std::string>& arguments, int& outputFd) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(pipeFds[1], STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  if (pid < 0) {
    close(pipeFds[0]);
    return -1;
  }
  outputFd = pipeFds[0];
  return pid;
}

int runQuietly(const std::vector<std::string>& arguments) {
  int outputFd = -1;
  const int pid = spawnWithPipedOutput(arguments, outputFd);
  if (pid < 0) return -1;
  char buffer[4096];
  while (read(outputFd, buffer, sizeof buffer) > 0) {
  }
  close(outputFd);
  return waitForExit(pid, std::chrono::seconds(30));
}

}  // namespace

std::string standinBackendProgram() { return std::string(VIREO_BIN_DIR) + "/standin-backend"; }

std::string makeCertsScript() {
  return std::string(VIREO_SOURCE_DIR) + "/tools/standin-certs/make-certs";
}

BackendProcess::BackendProcess(std::string root, BackendOptions options)
    : folder_(makeTemporaryFolder("vireo-backend")), tls_(!options.tlsCertificate.empty()) {
  if (folder_.empty()) return;
  recordFile_ = folder_ + "/record.jsonl";
  requestsFile_ = folder_ + "/requests.jsonl";
  std::vector<std::string> arguments = {standinBackendProgram(), "--root", root,
                                        "--record", recordFile_, "--requests", requestsFile_};
  if (tls_) {
    arguments.insert(arguments.end(), {"--tls", options.tlsCertificate, options.tlsKey});
  }
  for (const auto& fault : options.faults) arguments.insert(arguments.end(), {"--fault", fault});
  if (options.control) arguments.push_back("--control");

  int outputFd = -1;
  pid_ = spawnWithPipedOutput(arguments, outputFd);
  if (pid_ < 0) return;
  const std::string line = readFirstLine(outputFd);
  close(outputFd);
  const std::string announcement = "listening on 127.0.0.1:";
  if (line.compare(0, announcement.size(), announcement) == 0) {
    port_ = std::atoi(line.c_str() + announcement.size());
  }
  if (port_ <= 0) stop();
}

BackendProcess::~BackendProcess() {
  stop();
  if (!folder_.empty()) {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
}

std::string BackendProcess::baseUrl() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> BackendProcess::recordLines() const { return readLines(recordFile_); }

std::vector<std::string> BackendProcess::requestLines() const { return readLines(requestsFile_); }

std::vector<std::string> BackendProcess::waitForRequestLines(
    std::size_t count, std::chrono::milliseconds timeout) const {
  return waitForLines(requestsFile_, count, timeout);
}

std::vector<std::string> BackendProcess::waitForRecordLines(
    std::size_t count, std::chrono::milliseconds timeout) const {
  return waitForLines(recordFile_, count, timeout);
}

bool BackendProcess::addFault(const std::string& spec) { return control("/_control/fault", spec); }

bool BackendProcess::clearFaults() { return control("/_control/clear", ""); }

bool BackendProcess::control(const std::string& path, const std::string& body) {
  if (!running()) return false;
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  const std::string url = baseUrl() + path;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  // Test plumbing on 127.0.0.1: the server's certificate does not matter here.
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION,
                   +[](char*, size_t size, size_t count, void*) { return size * count; });
  long status = 0;
  const bool sent = curl_easy_perform(curl) == CURLE_OK &&
                    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK;
  curl_easy_cleanup(curl);
  return sent && status == 200;
}

int BackendProcess::stop() {
  if (pid_ <= 0) return exitCode_;
  kill(pid_, SIGTERM);
  exitCode_ = waitForExit(pid_, kStopTimeout);
  if (exitCode_ < 0) {
    kill(pid_, SIGKILL);
    waitForExit(pid_, kStopTimeout);
  }
  pid_ = -1;
  port_ = 0;
  return exitCode_;
}

TestCertificates makeTestCertificates(const std::string& folder) {
  TestCertificates certs;
  certs.folder = folder;
  certs.ok = runQuietly({"/bin/bash", makeCertsScript(), folder}) == 0;
  auto file = [&](const char* name) { return folder + "/" + name; };
  certs.caCertificate = file("ca.crt");
  certs.serverCertificate = file("server.crt");
  certs.serverKey = file("server.key");
  certs.expiredCertificate = file("expired.crt");
  certs.expiredKey = file("expired.key");
  certs.notYetValidCertificate = file("notyet.crt");
  certs.notYetValidKey = file("notyet.key");
  certs.wrongHostCertificate = file("wronghost.crt");
  certs.wrongHostKey = file("wronghost.key");
  certs.unknownCaCertificate = file("unknown-ca.crt");
  certs.unknownCertificate = file("unknown.crt");
  certs.unknownKey = file("unknown.key");
  return certs;
}

}  // namespace vireo::testing
