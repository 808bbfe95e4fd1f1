// Figures for the drive queries (not a test): what the real machine's drives
// answer, and how long the questions of the install-location logic take on
// the real machine and on a sandbox of five profile drives.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/code_pages.h"
#include "platform/drives.h"
#include "platform/machine_profile.h"
#include "support/sandbox.h"
#include "utility/disk.h"

namespace {

template <typename F>
double microsecondsPerCall(int calls, F&& f) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) f();
  std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
  return took.count() / calls;
}

void timeQuestions(const char* where) {
  bool ssd = false;
  std::wstring best;
  double bestUs = microsecondsPerCall(200, [&] { best = helper::disk::getMaxFreeSpaceDrive(ssd); });
  double validUs =
      microsecondsPerCall(200, [] { helper::disk::isValidPath(L"C:\\Games\\tallis\\Vireo9\\"); });
  double freeUs = microsecondsPerCall(200, [] { helper::disk::getFreeSpaceMB(L"C:\\"); });
  std::printf(
      "%s: %zu drives, best %s (ssd %d); getMaxFreeSpaceDrive %.1f us, isValidPath %.1f us, "
      "getFreeSpaceMB %.1f us\n",
      where, platform::drives().size(), platform::wideToUtf8(best).c_str(), ssd, bestUs, validUs,
      freeUs);
}

}  // namespace

int main() {
  platform::installMachineProfile({});
  platform::resetDriveTable();
  for (const auto& d : platform::drives()) {
    platform::VolumeFacts f = platform::volumeFacts(d.letter);
    std::printf("%c: %-30s present %d free %.0f MiB fs %s ssd %d hotplug %d fixed %d\n",
                static_cast<char>(d.letter), d.root.c_str(), f.present, f.freeBytes / 1048576.0,
                platform::wideToUtf8(f.fileSystem).c_str(), f.solidState, f.hotplug, f.fixed);
  }
  timeQuestions("real machine");

  vireo::testing::Sandbox sandbox({{'C', "\"freeMiB\": 200000, \"fs\": \"NTFS\", \"ssd\": false"},
                                   {'D', "\"freeMiB\": 30000, \"fs\": \"NTFS\", \"ssd\": true"},
                                   {'E', "\"freeMiB\": 1000, \"fs\": \"exFAT\""},
                                   {'F', "\"freeMiB\": 1000, \"hotplug\": true"},
                                   {'G', ""}});
  sandbox.installInProcess();
  timeQuestions("sandbox");
  return 0;
}
