// standin-full-installer: the full (offline) installer of an edition, as the
// installer downloads and runs it. A packed copy (see pack_main.cpp) carries
// the emulator and console programs and its edition number; the build makes
// one signed copy per edition in bin/standin-release/.
//
//   "<path>\zkinst9.0.exe" -silence -downloader -openid=<id> -path="<folder>"
//
// It records its start (one JSON line in "full-installer-starts.txt" in the
// install folder, or beside itself when the folder cannot be made), installs
// varedori.exe, bxconsole.exe and "vms" into the folder, writes the edition's
// "InstallDir" and desktop shortcut, and posts 11126 progress values and then
// 11125 (or 11124 with an error code) to the installer's IPC window. What it
// does instead is chosen through VIREO_STANDIN_INSTALLER (behaviour.h).
//
// Exit codes: 0 installed, 1 failed (reported through 11124), 2 unknown
// behaviour text.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "behaviour.h"
#include "install_request.h"
#include "installation.h"
#include "outcome_report.h"
#include "payload.h"
#include "platform/code_pages.h"
#include "platform/command_line.h"
#include "platform/drives.h"
#include "platform/entry.h"
#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/last_error.h"
#include "record_line.h"

namespace {

constexpr int kInstalled = 0;
constexpr int kFailed = 1;
constexpr int kBadBehaviour = 2;

// ERROR_SUCCESS when the folder exists afterwards.
DWORD prepareFolder(const std::wstring& folder) {
  if (folder.empty()) return ERROR_INVALID_PARAMETER;
  DWORD result = platform::createDirectoryTree(folder);
  return result == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : result;
}

void recordStart(const std::string& hostFolder, const standin::InstallRequest& request,
                 const standin::Behaviour& behaviour, long long edition) {
  standin::RecordLine()
      .add("commandLine", standin::commandLineUtf8())
      .add("openid", platform::wideToUtf8(request.openid))
      .add("path", platform::wideToUtf8(request.folder))
      .add("silence", request.silence ? 1 : 0)
      .add("downloader", request.downloader ? 1 : 0)
      .add("edition", edition)
      .add("behaviour", behaviour.text)
      .add("pid", static_cast<long long>(getpid()))
      .appendTo(hostFolder + "/full-installer-starts.txt");
}

// An abort as a crashing installer ends, without leaving a core file behind.
[[noreturn]] void crash() {
  struct rlimit noCore = {0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  std::abort();
}

[[noreturn]] void blockUntilEnded() {
  for (;;) pause();
}

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  standin::Behaviour behaviour;
  std::string error;
  if (!standin::parseBehaviour(std::getenv(standin::kBehaviourVariable), behaviour, error)) {
    std::fprintf(stderr, "full installer: %s\n", error.c_str());
    return kBadBehaviour;
  }
  standin::InstallRequest request = standin::parseInstallRequest(platform::ownCommandLine());
  std::string self = platform::moduleHostPath();
  standin::PayloadIndex payload;
  std::string payloadError;
  bool packed = standin::readPayloadIndex(self, payload, payloadError);

  DWORD folderResult = prepareFolder(request.folder);
  std::string recordFolder = folderResult == ERROR_SUCCESS ? platform::hostPath(request.folder)
                                                           : standin::ownHostFolder();
  recordStart(recordFolder, request, behaviour, packed ? payload.edition : -1);

  if (behaviour.outcome == standin::Behaviour::Outcome::Crash) crash();
  if (behaviour.outcome == standin::Behaviour::Outcome::Hang) blockUntilEnded();

  standin::OutcomeReport report(behaviour.slowMs / 6);
  if (behaviour.outcome == standin::Behaviour::Outcome::Fail) {
    report.failed(behaviour.errorCode);
    return kFailed;
  }
  DWORD result = folderResult;
  if (!packed) {
    std::fprintf(stderr, "full installer: %s\n", payloadError.c_str());
    result = ERROR_INVALID_DATA;
  }
  if (result == ERROR_SUCCESS) result = standin::installEdition(request.folder, self, payload, report);
  if (result != ERROR_SUCCESS) {
    std::fprintf(stderr, "full installer: installation into %s failed with %u\n",
                 platform::wideToUtf8(request.folder).c_str(), result);
    report.failed(static_cast<std::int32_t>(result));
    return kFailed;
  }
  report.succeeded();
  return kInstalled;
}
