// Download benchmark: a big (sparse) file served by the stand-in back end on
// 127.0.0.1, fetched once per run through utility::CHttpDownloader and once
// with `curl -o`, over HTTP and HTTPS. Each download runs in a child process
// of its own so that its peak resident memory (wait4's ru_maxrss) is its own.
//
// Like the stand-ins in tools/, this program is never part of the installer
// and talks to Linux directly.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "net/http_downloader.h"
#include "platform/entry.h"
#include "support/backend_process.h"
#include "support/sandbox.h"
#include "utility/ustring.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kServedPath = "/big.bin";

struct Measure {
  bool ok = false;
  double seconds = 0;     // the transfer as the downloader itself timed it
  double wallSeconds = 0;  // the child process from start to end
  double peakMiB = 0;     // ru_maxrss of the child
};

// Runs a program with its standard output captured; fills the child's
// times and peak memory.
Measure runChild(const std::vector<std::string>& arguments, const std::string& profile,
                 std::string& output) {
  Measure measure;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return measure;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    if (!profile.empty()) setenv("VIREO_PROFILE", profile.c_str(), 1);
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  if (pid < 0) {
    close(pipeFds[0]);
    return measure;
  }
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
  close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return measure;
  measure.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  measure.peakMiB = usage.ru_maxrss / 1024.0;
  measure.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  measure.seconds = std::atof(output.c_str());
  return measure;
}

// The child's part: one download through the second stack, its time on
// standard output.
int fetchWithSecondStack(const std::string& url, const std::string& windowsPath) {
  utility::CHttpDownloader downloader;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = downloader.download2file(utility::ustring::utf8ToWide(url),
                                           utility::ustring::utf8ToWide(windowsPath), nullptr,
                                           false);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.6f\n", seconds);
  return ok ? 0 : 1;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Series {
  std::vector<double> seconds, wall, peak;
  int failures = 0;
  void add(const Measure& m) {
    if (!m.ok) {
      ++failures;
      return;
    }
    seconds.push_back(m.seconds);
    wall.push_back(m.wallSeconds);
    peak.push_back(m.peakMiB);
  }
};

struct Options {
  std::uint64_t sizeMiB = 1024;
  int runs = 3;
  bool http = true, https = true;
};

std::optional<Options> parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--size" && i + 1 < argc) {
      options.sizeMiB = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--runs" && i + 1 < argc) {
      options.runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--http-only") {
      options.https = false;
    } else if (arg == "--https-only") {
      options.http = false;
    } else {
      return std::nullopt;
    }
  }
  if (options.sizeMiB == 0) return std::nullopt;
  return options;
}

class Bench {
 public:
  Bench(const Options& options, std::string self)
      : options_(options), self_(std::move(self)), sandbox_({{'C', ""}}) {}

  int run() {
    const std::string root = sandbox_.folder() + "/root";
    fs::create_directories(root);
    {
      std::FILE* file = std::fopen((root + kServedPath).c_str(), "wb");
      if (!file) return fail("cannot create the served file");
      std::fclose(file);
      fs::resize_file(root + kServedPath, size());  // sparse
    }
    certs_ = vireo::testing::makeTestCertificates(sandbox_.folder() + "/certs");
    if (options_.https && !certs_.ok) return fail("cannot make the TLS certificates");
    sandbox_.rewriteProfile("\"trustedCA\": \"" + certs_.caCertificate + "\"");

    std::printf("download benchmark: %llu MiB, %d run(s) per stack, 127.0.0.1\n",
                static_cast<unsigned long long>(options_.sizeMiB), options_.runs);
    int result = 0;
    if (options_.http) result |= runScheme(root, false);
    if (options_.https) result |= runScheme(root, true);
    return result;
  }

 private:
  std::uint64_t size() const { return options_.sizeMiB * 1024 * 1024; }

  int fail(const char* what) {
    std::fprintf(stderr, "vireo-download-bench: %s\n", what);
    return 1;
  }

  Measure curlOnce(const std::string& url, bool tls) {
    const std::string out = sandbox_.driveRoot('C') + "/curl.bin";
    std::vector<std::string> arguments = {"curl", "-s", "-S", "--noproxy", "*", "-o", out,
                                          "-w", "%{time_total}\n"};
    if (tls) arguments.insert(arguments.end(), {"--cacert", certs_.caCertificate});
    arguments.push_back(url);
    std::string output;
    Measure m = runChild(arguments, "", output);
    m.ok = m.ok && fileHasSize(out);
    fs::remove(out);
    return m;
  }

  Measure secondStackOnce(const std::string& url) {
    const std::string out = sandbox_.driveRoot('C') + "/soup.bin";
    std::string output;
    Measure m = runChild({self_, "--fetch", url, "C:\\soup.bin"}, sandbox_.profilePath(), output);
    m.ok = m.ok && fileHasSize(out);
    fs::remove(out);
    return m;
  }

  bool fileHasSize(const std::string& path) const {
    std::error_code error;
    return fs::file_size(path, error) == size() && !error;
  }

  int runScheme(const std::string& root, bool tls) {
    vireo::testing::BackendOptions backendOptions;
    backendOptions.control = false;
    if (tls) {
      backendOptions.tlsCertificate = certs_.serverCertificate;
      backendOptions.tlsKey = certs_.serverKey;
    }
    vireo::testing::BackendProcess backend(root, backendOptions);
    if (!backend.running()) return fail("the stand-in back end did not start");
    const std::string url = backend.baseUrl() + kServedPath;

    Series curl, second;
    for (int i = 0; i < options_.runs; ++i) {
      // Alternate the order so that neither always meets a warmer cache.
      if (i % 2 == 0) {
        curl.add(curlOnce(url, tls));
        second.add(secondStackOnce(url));
      } else {
        second.add(secondStackOnce(url));
        curl.add(curlOnce(url, tls));
      }
    }
    report(tls ? "HTTPS" : "HTTP", curl, second);
    return curl.failures || second.failures ? 1 : 0;
  }

  void report(const char* scheme, const Series& curl, const Series& second) {
    const double mib = static_cast<double>(options_.sizeMiB);
    auto line = [&](const char* name, const Series& s) {
      const double t = median(s.seconds);
      std::printf("  %-26s %9.1f MiB/s  (%.3f s; process %.3f s)  peak RSS %7.1f MiB%s\n",
                  name, t > 0 ? mib / t : 0.0, t, median(s.wall),
                  s.peak.empty() ? 0.0 : *std::max_element(s.peak.begin(), s.peak.end()),
                  s.failures ? "  FAILED RUNS" : "");
    };
    std::printf("%s\n", scheme);
    line("curl -o", curl);
    line("CHttpDownloader (libsoup)", second);
    const double c = median(curl.seconds), s = median(second.seconds);
    if (c > 0 && s > 0) {
      std::printf("  throughput ratio second stack / curl: %.3f\n", c / s);
    }
    std::fflush(stdout);
  }

  Options options_;
  std::string self_;
  vireo::testing::Sandbox sandbox_;
  vireo::testing::TestCertificates certs_;
};

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  if (argc == 4 && std::string(argv[1]) == "--fetch") return fetchWithSecondStack(argv[2], argv[3]);
  const auto options = parseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: vireo-download-bench [--size MIB] [--runs N] [--http-only|--https-only]\n");
    return 2;
  }
  std::error_code error;
  const std::string self = fs::read_symlink("/proc/self/exe", error).string();
  return Bench(*options, self).run();
}
