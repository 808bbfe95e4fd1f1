#include "platform/command_line.h"

#include <cstdlib>

#include "platform/code_pages.h"

namespace platform {
namespace {

std::wstring& storedCommandLine() {
  static std::wstring text;
  return text;
}

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The end of the program-name token.
size_t programEnd(const std::wstring& s) {
  if (!s.empty() && s[0] == L'"') {
    size_t close = s.find(L'"', 1);
    return close == std::wstring::npos ? s.size() : close + 1;
  }
  size_t i = 0;
  while (i < s.size() && !isBlank(s[i])) ++i;
  return i;
}

std::wstring programToken(const std::wstring& s) {
  size_t end = programEnd(s);
  if (s.empty() || s[0] != L'"') return s.substr(0, end);
  bool closed = end >= 2 && s[end - 1] == L'"';
  return s.substr(1, closed ? end - 2 : end - 1);
}

}  // namespace

std::vector<std::wstring> splitCommandLine(const std::wstring& s) {
  std::vector<std::wstring> args;
  if (s.empty()) return args;
  args.push_back(programToken(s));
  size_t i = programEnd(s);
  for (;;) {
    while (i < s.size() && isBlank(s[i])) ++i;
    if (i >= s.size()) break;
    std::wstring arg;
    bool quoted = false;
    while (i < s.size() && (quoted || !isBlank(s[i]))) {
      if (s[i] == L'\\') {
        size_t run = 0;
        while (i < s.size() && s[i] == L'\\') ++run, ++i;
        if (i < s.size() && s[i] == L'"') {
          arg.append(run / 2, L'\\');
          if (run % 2 == 1) {
            arg += L'"';
            ++i;
          }
        } else {
          arg.append(run, L'\\');
        }
      } else if (s[i] == L'"') {
        if (quoted && i + 1 < s.size() && s[i + 1] == L'"') {
          arg += L'"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += s[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

std::wstring quoteArgument(const std::wstring& a) {
  bool needs = a.empty() || a.find_first_of(L" \t\n\v\"") != std::wstring::npos;
  if (!needs) return a;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : a) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

std::wstring argumentsAfterProgram(const std::wstring& s) {
  size_t i = programEnd(s);
  while (i < s.size() && isBlank(s[i])) ++i;
  return s.substr(i);
}

const std::wstring& ownCommandLine() { return storedCommandLine(); }

void recordCommandLine(int argc, char** argv) {
  std::vector<std::wstring> wide;
  for (int i = 0; i < argc; ++i) wide.push_back(utf8ToWide(argv[i]));

  if (const char* given = std::getenv(kCommandLineVariable)) {
    std::wstring text = utf8ToWide(given);
    unsetenv(kCommandLineVariable);  // never inherited by grandchildren
    auto split = splitCommandLine(text);
    bool matches = split.size() == wide.size();
    for (size_t i = 1; matches && i < wide.size(); ++i) matches = split[i] == wide[i];
    if (matches) {
      storedCommandLine() = text;
      return;
    }
  }
  std::wstring text = wide.empty() ? L"" : quoteArgument(wide[0]);
  for (size_t i = 1; i < wide.size(); ++i) text += L" " + quoteArgument(wide[i]);
  storedCommandLine() = text;
}

}  // namespace platform
