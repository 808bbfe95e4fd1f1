// Runs the stand-in back end (tools/standin-backend) for one test: a real
// process on 127.0.0.1, on a free port, with its record and requests files
// in a temporary folder of its own.
//
//   vireo::testing::BackendProcess backend(rootFolder);
//   ASSERT_TRUE(backend.running());
//   fetch(backend.baseUrl() + "/zk/tallisex");
//   auto uploads = backend.recordLines();
//
// A test program that uses it must build standin-backend first:
//   add_dependencies(<your>_tests standin-backend)
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace vireo::testing {

struct BackendOptions {
  std::string tlsCertificate;       // with tlsKey: serve HTTPS
  std::string tlsKey;
  std::vector<std::string> faults;  // --fault specs, e.g. "/download/*:cut=1000"
  bool control = true;              // accept addFault/clearFaults at run time
};

class BackendProcess {
 public:
  explicit BackendProcess(std::string root, BackendOptions options = {});
  ~BackendProcess();  // stops the process
  BackendProcess(const BackendProcess&) = delete;
  BackendProcess& operator=(const BackendProcess&) = delete;

  // Whether the process started and announced its port.
  bool running() const { return port_ > 0; }
  int port() const { return port_; }
  int pid() const { return pid_; }
  // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT".
  std::string baseUrl() const;

  const std::string& recordFile() const { return recordFile_; }
  const std::string& requestsFile() const { return requestsFile_; }
  // The lines written so far (one JSON document each).
  std::vector<std::string> recordLines() const;
  std::vector<std::string> requestLines() const;
  // The server logs a request once it has sent the answer, which may be a
  // moment after the client has read it: wait for `count` lines.
  std::vector<std::string> waitForRequestLines(
      std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  std::vector<std::string> waitForRecordLines(
      std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

  // Fault rules at run time (needs options.control); false on refusal.
  bool addFault(const std::string& spec);
  bool clearFaults();

  // Sends SIGTERM and waits (SIGKILL after 10 s). Returns the exit code, or
  // -1 when it had to be killed or never ran. Safe to call twice.
  int stop();

 private:
  bool control(const std::string& path, const std::string& body);

  std::string folder_;
  std::string recordFile_;
  std::string requestsFile_;
  bool tls_ = false;
  int pid_ = -1;
  int port_ = 0;
  int exitCode_ = -1;
};

// The server program and the certificate script of this build.
std::string standinBackendProgram();
std::string makeCertsScript();

// Throwaway TLS material made by tools/standin-certs/make-certs.
struct TestCertificates {
  bool ok = false;
  std::string folder;
  std::string caCertificate;         // the CA to trust
  std::string serverCertificate;     // 127.0.0.1 and localhost
  std::string serverKey;
  std::string expiredCertificate;    // same names, expired
  std::string expiredKey;
  std::string notYetValidCertificate;
  std::string notYetValidKey;
  std::string wrongHostCertificate;  // signed by the CA, for another host name
  std::string wrongHostKey;
  std::string unknownCaCertificate;  // a second CA nobody trusts
  std::string unknownCertificate;    // 127.0.0.1, signed by the unknown CA
  std::string unknownKey;
};
TestCertificates makeTestCertificates(const std::string& folder);

}  // namespace vireo::testing
