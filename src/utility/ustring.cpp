#include "utility/ustring.h"

#include <cstring>
#include <cwchar>
#include <string_view>

#include "platform/code_pages.h"

namespace utility::ustring {
namespace {

template <typename Char>
std::basic_string<Char> trimSpaces(const std::basic_string<Char>& s) {
  size_t first = s.find_first_not_of(Char(' '));
  if (first == std::basic_string<Char>::npos) return {};
  size_t last = s.find_last_not_of(Char(' '));
  return s.substr(first, last - first + 1);
}

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

std::wstring toWide(const char* bytes, int length, UINT codePage) {
  if (!bytes || length < -1) return {};
  size_t size = length == -1 ? std::strlen(bytes) : static_cast<size_t>(length);
  if (size == 0) return {};
  return platform::toWide(std::string_view(bytes, size), codePage);
}

std::string toNarrow(const wchar_t* text, int length, UINT codePage) {
  if (!text || length < -1) return {};
  size_t size = length == -1 ? std::wcslen(text) : static_cast<size_t>(length);
  if (size == 0) return {};
  return platform::toNarrow(std::wstring_view(text, size), codePage);
}

std::wstring ansiToWide(const std::string& s) {
  return toWide(s.data(), static_cast<int>(s.size()), CP_ACP);
}

std::wstring utf8ToWide(const std::string& s) {
  return toWide(s.data(), static_cast<int>(s.size()), CP_UTF8);
}

std::string wideToAnsi(const std::wstring& s) {
  return toNarrow(s.data(), static_cast<int>(s.size()), CP_ACP);
}

std::string wideToUtf8(const std::wstring& s) {
  return toNarrow(s.data(), static_cast<int>(s.size()), CP_UTF8);
}

std::string ansiToUtf8(const std::string& s) {
  std::wstring wide = ansiToWide(s);
  return wide.empty() ? std::string() : wideToUtf8(wide);
}

std::wstring removeSpaces(const std::wstring& s) {
  std::wstring out;
  out.reserve(s.size());
  for (wchar_t c : s) {
    if (c != L' ') out += c;
  }
  return out;
}

std::wstring trim(const std::wstring& s) { return trimSpaces(s); }

std::string trim(const std::string& s) { return trimSpaces(s); }

void toLower(std::wstring& s) {
  for (wchar_t& c : s) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
}

bool endsWith(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool pathHasPrefix(const std::wstring& prefix, const std::wstring& path) {
  size_t p = 0;
  for (wchar_t c : prefix) {
    if (isSeparator(c)) continue;
    while (p < path.size() && isSeparator(path[p])) ++p;
    if (p == path.size() || path[p] != c) return false;
    ++p;
  }
  return true;
}

void split(std::vector<std::wstring>& out, const std::wstring& text,
           const std::wstring& delimiter) {
  if (text.empty() || delimiter.empty()) return;
  size_t start = 0;
  for (size_t at; (at = text.find(delimiter, start)) != std::wstring::npos;) {
    out.push_back(trim(text.substr(start, at - start)));
    start = at + delimiter.size();
  }
  out.push_back(trim(text.substr(start)));
}

void parseKeyValues(std::map<std::wstring, std::wstring>& out,
                    const std::vector<std::wstring>& lines, const std::wstring& separator) {
  if (separator.empty()) return;
  for (const std::wstring& line : lines) {
    size_t at = line.find(separator);
    if (at == std::wstring::npos) continue;
    std::wstring key = trim(line.substr(0, at));
    toLower(key);
    if (key.empty()) continue;
    out[key] = trim(line.substr(at + separator.size()));
  }
}

bool findValue(const std::map<std::wstring, std::wstring>& map, const std::wstring& key,
               std::wstring& value) {
  auto it = map.find(key);
  if (it == map.end()) return false;
  value = it->second;
  return true;
}

bool isDigits(const std::wstring& s) {
  for (wchar_t c : s) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

}  // namespace utility::ustring
