#include "platform/system_programs.h"

#include <cstdio>

#include "platform/case_folding.h"
#include "platform/command_line.h"
#include "platform/known_folders.h"
#include "platform/taskkill.h"

namespace platform {
namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "C:\Windows\\System32\" -> "C:\Windows\System32": separators unified and
// doubled or trailing ones dropped, for comparing folders.
std::wstring normalizedFolder(const std::wstring& path) {
  std::wstring out;
  for (wchar_t c : path) {
    if (isSeparator(c)) {
      if (!out.empty() && out.back() != L'\\') out += L'\\';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == L'\\') out.pop_back();
  return out;
}

// Folders whose taskkill.exe is the system's: the Windows folder and its
// System32 (and SysWOW64, where a 32-bit program finds it).
bool isSystemFolder(const std::wstring& folder) {
  std::wstring windows = normalizedFolder(windowsFolder());
  std::wstring given = normalizedFolder(folder);
  for (const wchar_t* sub : {L"", L"\\System32", L"\\SysWOW64"}) {
    if (equalsIgnoringCase(given, windows + sub)) return true;
  }
  return false;
}

}  // namespace

std::string systemProgramName(const std::wstring& program) {
  size_t cut = program.find_last_of(L"\\/");
  std::wstring file = cut == std::wstring::npos ? program : program.substr(cut + 1);
  if (!equalsIgnoringCase(file, L"taskkill") && !equalsIgnoringCase(file, L"taskkill.exe")) {
    return {};
  }
  if (cut != std::wstring::npos && !isSystemFolder(program.substr(0, cut))) return {};
  return "taskkill";
}

int runSystemProgram(const std::string& name, const std::wstring& commandLine) {
  if (name != "taskkill") return -1;
  std::vector<std::wstring> words = splitCommandLine(commandLine);
  if (!words.empty()) words.erase(words.begin());
  int code = runTaskkill(words, stdout);
  std::fflush(stdout);
  return code;
}

}  // namespace platform
