// signing-bench [MiB]: signs a program file of MiB mebibytes (default 512)
// with standin-sign and checks it with the platform, printing the time of
// each and the memory the check added to the process's peak. The file lives
// in a temporary folder and is removed afterwards.
//
//   build/bin/signing-bench 512
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/code_signing.h"
#include "platform/entry.h"
#include "test_pki.h"

namespace {

double cpuSeconds() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long peakKiB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  long mebibytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 512;
  if (mebibytes <= 0) return 2;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/signing-bench-XXXXXX";
  if (!mkdtemp(pattern.data())) return 1;
  const std::string folder = pattern;

  auto ca = vireo::testing::makeCa(folder, "Bench CA");
  auto signer = vireo::testing::makeSigner(folder, "Bench Signer", ca);
  std::string trusted;
  {
    std::ifstream in(ca.certFile);
    trusted.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::string program = folder + "/program.exe";
  {
    std::ofstream out(program, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131 + (i >> 9));
    for (long i = 0; i < mebibytes; ++i) out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }

  auto start = std::chrono::steady_clock::now();
  std::string command = std::string(VIREO_BIN_DIR) + "/standin-sign --cert '" + signer.certFile +
                        "' --key '" + signer.keyFile + "' '" + program + "'";
  int status = std::system(command.c_str());
  double signSeconds = secondsSince(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;

  long before = peakKiB();
  double cpuBefore = cpuSeconds();
  start = std::chrono::steady_clock::now();
  platform::SignatureCheck check = platform::checkEmbeddedSignatureOfHostFile(program, trusted);
  double checkSeconds = secondsSince(start);
  double checkCpu = cpuSeconds() - cpuBefore;
  long after = peakKiB();

  std::printf("file            %ld MiB\n", mebibytes);
  std::printf("sign            %.2f s (%.0f MiB/s, standin-sign process)\n", signSeconds,
              mebibytes / signSeconds);
  std::printf("check           %.2f s (%.0f MiB/s; %.2f s of CPU), result: %s\n", checkSeconds,
              mebibytes / checkSeconds, checkCpu, platform::signatureStatusName(check.status));
  std::printf("check peak RSS  +%ld KiB (peak before %ld KiB, after %ld KiB)\n", after - before, before,
              after);
  std::filesystem::remove_all(folder);
  return check.ok() ? 0 : 1;
}
