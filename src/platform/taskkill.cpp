#include "platform/taskkill.h"

#include <cstdint>
#include <cwctype>

#include "platform/case_folding.h"
#include "platform/code_pages.h"
#include "platform/processes.h"

namespace platform {
namespace {

constexpr int kSomethingEnded = 0;
constexpr int kBadArguments = 1;
constexpr int kNothingMatched = 128;

struct Request {
  bool force = false;
  bool tree = false;
  std::vector<std::wstring> names;
  std::vector<std::uint32_t> ids;
  std::vector<std::wstring> idTexts;
};

bool isSwitch(const std::wstring& a, const wchar_t* name) {
  return a.size() > 1 && (a[0] == L'/' || a[0] == L'-') &&
         equalsIgnoringCase(std::wstring_view(a).substr(1), name);
}

bool parseId(const std::wstring& text, std::uint32_t& id) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  if (value > 0xFFFFFFFFu) return false;
  id = static_cast<std::uint32_t>(value);
  return true;
}

void print(std::FILE* out, const std::wstring& line) {
  std::fputs(wideToUtf8(line).c_str(), out);
  std::fputc('\n', out);
}

int badSyntax(std::FILE* out, const std::wstring& message) {
  print(out, L"ERROR: " + message);
  print(out, L"Type \"TASKKILL /?\" for usage.");
  return kBadArguments;
}

void printUsage(std::FILE* out) {
  print(out, L"TASKKILL [/F] [/T] { /IM imagename | /PID processid }");
  print(out, L"  /F   forcefully terminate the process(es)");
  print(out, L"  /T   terminate the process and any child processes started by it");
}

// Returns -1 when the arguments are good, else the exit code to end with.
int parse(const std::vector<std::wstring>& args, std::FILE* out, Request& r) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (isSwitch(a, L"F")) {
      r.force = true;
    } else if (isSwitch(a, L"T")) {
      r.tree = true;
    } else if (isSwitch(a, L"IM") || isSwitch(a, L"PID")) {
      bool byName = isSwitch(a, L"IM");
      if (i + 1 >= args.size()) return badSyntax(out, L"Invalid syntax. Value expected for '" + a + L"'.");
      const std::wstring& value = args[++i];
      if (byName) {
        r.names.push_back(value);
      } else {
        std::uint32_t id;
        if (!parseId(value, id)) return badSyntax(out, L"Invalid argument/option - '" + value + L"'.");
        r.ids.push_back(id);
        r.idTexts.push_back(value);
      }
    } else if (isSwitch(a, L"?")) {
      printUsage(out);
      return kSomethingEnded;
    } else {
      return badSyntax(out, L"Invalid argument/option - '" + a + L"'.");
    }
  }
  if (r.names.empty() && r.ids.empty()) {
    return badSyntax(out, L"Invalid syntax. Neither /FI nor /PID nor /IM were specified.");
  }
  return -1;
}

void report(std::FILE* out, const Request& r, const ProcessEntry& e) {
  std::wstring who = L"\"" + e.exeName + L"\" with PID " + std::to_wstring(e.pid);
  if (!r.force) {
    print(out, L"SUCCESS: Sent termination signal to the process " + who + L".");
  } else if (r.tree) {
    print(out, L"SUCCESS: The process " + who + L" (child process of PID " +
                   std::to_wstring(e.parentPid) + L") has been terminated.");
  } else {
    print(out, L"SUCCESS: The process " + who + L" has been terminated.");
  }
}

}  // namespace

int runTaskkill(const std::vector<std::wstring>& arguments, std::FILE* out) {
  Request r;
  int early = parse(arguments, out, r);
  if (early >= 0) return early;

  bool anything = false;
  auto endAndReport = [&](const std::function<bool(const ProcessEntry&)>& match,
                          const std::wstring& shown) {
    auto ended = endMatchingProcesses(match, r.tree, r.force);
    for (const auto& e : ended) report(out, r, e);
    if (ended.empty()) print(out, L"ERROR: The process \"" + shown + L"\" not found.");
    anything = anything || !ended.empty();
  };
  for (const auto& name : r.names) {
    endAndReport([&](const ProcessEntry& e) { return equalsIgnoringCase(e.exeName, name); }, name);
  }
  for (size_t i = 0; i < r.ids.size(); ++i) {
    std::uint32_t id = r.ids[i];
    endAndReport([id](const ProcessEntry& e) { return e.pid == id; }, r.idTexts[i]);
  }
  return anything ? kSomethingEnded : kNothingMatched;
}

}  // namespace platform
