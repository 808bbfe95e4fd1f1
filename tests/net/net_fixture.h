// Shared pieces of the HTTP stack tests: a sandbox profile installed in the
// test process, a served tree with the stand-in back end, Windows paths into
// the sandbox's C: drive, a recording progress sink and a redirecting server.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <rapidjson/document.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/http_download_sink.h"
#include "support/backend_process.h"
#include "support/sandbox.h"
#include "utility/ustring.h"

namespace net_tests {

using vireo::testing::BackendOptions;
using vireo::testing::BackendProcess;
using vireo::testing::Sandbox;

inline char patternByte(std::size_t i) { return static_cast<char>((i * 131 + 17) % 251); }

inline std::string patternBytes(std::size_t start, std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = patternByte(start + i);
  return bytes;
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One progress call of the second stack.
struct ProgressCall {
  std::uint32_t length;
  std::int64_t received, total;
};

class RecordingProgress : public utility::IHttpDownloadSink {
 public:
  bool onDownloadProgress(const char*, std::uint32_t length, std::int64_t received,
                          std::int64_t total) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({length, received, total});
    return answer_;
  }
  std::vector<ProgressCall> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  void stopWith(bool answer) { answer_ = answer; }

 private:
  mutable std::mutex mutex_;
  std::vector<ProgressCall> calls_;
  bool answer_ = true;
};

// A test with its own sandbox profile (installed in this process) and a
// served folder "root" inside it.
class NetTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kFileSize = 1000000;
  static constexpr const char* kFilePath = "/download/release/file.bin";

  void SetUp() override {
    // Nothing of these tests may leave 127.0.0.1, whatever proxy the machine names.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    std::filesystem::create_directories(root() + "/download/release");
    std::filesystem::create_directories(hostDownloads());
    vireo::testing::writeHostFile(root() + kFilePath, patternBytes(0, kFileSize));
    vireo::testing::writeHostFile(root() + "/hello.json", "{\"hello\":\"world\"}");
    useProfile("");
  }

  // Replaces the profile's extra keys (time-outs, trustedCA).
  void useProfile(const std::string& extraJson) {
    sandbox_.rewriteProfile(extraJson);
    sandbox_.installInProcess();
  }

  std::unique_ptr<BackendProcess> startBackend(BackendOptions options = {}) {
    auto backend = std::make_unique<BackendProcess>(root(), std::move(options));
    EXPECT_TRUE(backend->running());
    return backend;
  }

  std::string root() const { return sandbox_.folder() + "/root"; }
  // Where downloads go: C:\downloads on the host and as a Windows path.
  std::string hostDownloads() const { return sandbox_.driveRoot('C') + "/downloads"; }
  std::string hostFile(const std::string& name) const { return hostDownloads() + "/" + name; }
  std::wstring windowsFile(const std::string& name) const {
    return L"C:\\downloads\\" + utility::ustring::utf8ToWide(name);
  }
  const Sandbox& sandbox() const { return sandbox_; }

 private:
  Sandbox sandbox_;
};

// The requests the back end saw, parsed.
inline std::vector<rapidjson::Document> parsedRequests(const BackendProcess& backend,
                                                       std::size_t atLeast) {
  std::vector<rapidjson::Document> out;
  for (const auto& line : backend.waitForRequestLines(atLeast)) {
    rapidjson::Document d;
    d.Parse(line.c_str());
    out.push_back(std::move(d));
  }
  return out;
}

// The first recorded request whose `member` is the text `value`; lines of
// separate connections may be recorded in either order. Null when none.
inline const rapidjson::Document* requestWith(const std::vector<rapidjson::Document>& requests,
                                              const char* member, const std::string& value) {
  for (const auto& r : requests) {
    if (r.IsObject() && r.HasMember(member) && r[member].IsString() &&
        value == r[member].GetString()) {
      return &r;
    }
  }
  return nullptr;
}

// A server on 127.0.0.1 that answers every GET with a 302 to `target`.
class RedirectServer {
 public:
  explicit RedirectServer(std::string target) : target_(std::move(target)) {
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      response.set_redirect(target_ + request.path, 302);
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~RedirectServer() {
    server_.stop();
    thread_.join();
  }
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  std::string target_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace net_tests
