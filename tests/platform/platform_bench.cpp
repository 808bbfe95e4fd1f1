// Figures of the platform layer on this machine, in a temporary sandbox:
//   build-a/bin/platform-bench
// Registry writes and reads, named mutexes, process start-and-wait, and
// process snapshots. Prints one line per figure; asserts nothing.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/drives.h"
#include "platform/entry.h"
#include "platform/machine_profile.h"
#include "platform/named_mutex.h"
#include "platform/processes.h"
#include "platform/registry_store.h"

namespace {

double millisecondsEach(int count, const std::function<void(int)>& work) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) work(i);
  std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / count;
}

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  char folder[] = "/tmp/vireo-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  std::string root = folder;
  std::filesystem::create_directories(root + "/c");
  platform::MachineProfile profile;
  std::string error;
  std::string json = "{\"drives\": [{\"letter\": \"C\", \"root\": \"" + root +
                     "/c\"}], \"registry\": \"" + root + "/registry\", \"namespace\": \"bench\"}";
  if (!platform::parseMachineProfile(json, root + "/profile.json", profile, error)) return 1;
  platform::installMachineProfile(profile);
  platform::resetDriveTable();

  const std::wstring key = L"Software\\zk\\varedori";
  platform::registry::createKey(HKEY_CURRENT_USER, key);
  double write = millisecondsEach(200, [&](int i) {
    platform::registry::writeValue(HKEY_CURRENT_USER, key, L"v" + std::to_wstring(i),
                                   L"value of some forty characters in length");
  });
  std::wstring value;
  double read = millisecondsEach(1000, [&](int i) {
    platform::registry::readValue(HKEY_CURRENT_USER, key, L"v" + std::to_wstring(i % 200), value);
  });
  std::printf("registry write (fsync'd, key of 200 values): %.3f ms each\n", write);
  std::printf("registry read (key of 200 values): %.3f ms each\n", read);

  double mutex = millisecondsEach(1000, [](int i) {
    auto m = platform::NamedMutex::create(L"{bench-" + std::to_wstring(i % 10) + L"}");
  });
  std::printf("named mutex create and close: %.3f ms each\n", mutex);

  std::string probe = std::filesystem::path(argv[0]).parent_path().string() + "/platform-probe";
  std::wstring command = L"\"" + platform::windowsPath(probe) + L"\" exit 0";
  double start = millisecondsEach(50, [&](int) {
    auto p = platform::Process::start(command);
    if (p) p->wait(10000);
  });
  std::printf("process start and wait (probe exiting at once): %.3f ms each\n", start);

  platform::installMachineProfile({});
  std::vector<platform::ProcessEntry> list;
  platform::snapshotProcesses(list);
  double snapshot = millisecondsEach(50, [&](int) { platform::snapshotProcesses(list); });
  std::printf("process snapshot of the whole machine (%zu processes): %.3f ms each\n", list.size(),
              snapshot);

  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak resident memory: %ld KiB\n", usage.ru_maxrss);
  std::filesystem::remove_all(root);
  return 0;
}
