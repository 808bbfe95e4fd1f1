#include "platform/registry_text.h"

#include <cstdint>

#include "platform/case_folding.h"
#include "platform/code_pages.h"

namespace platform::registry {
namespace {

bool needsCodeEscape(std::uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF ||
         c == 0x2028 || c == 0x2029 || c == 0xFEFF;
}

void appendHex(std::string& out, std::uint32_t c) {
  static const char digits[] = "0123456789abcdef";
  char buffer[8];
  int n = 0;
  do {
    buffer[n++] = digits[c & 0xF];
    c >>= 4;
  } while (c != 0);
  while (n > 0) out += buffer[--n];
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string starting at text[pos] == '"'. On success moves pos
// past the closing quote.
bool readQuoted(std::string_view text, size_t& pos, std::wstring& out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  ++pos;
  std::string plain;  // UTF-8 run not yet decoded
  out.clear();
  auto flush = [&] {
    out += utf8ToWide(plain);
    plain.clear();
  };
  while (pos < text.size()) {
    char c = text[pos++];
    if (c == '"') {
      flush();
      return true;
    }
    if (c != '\\') {
      plain += c;
      continue;
    }
    if (pos >= text.size()) return false;
    char e = text[pos++];
    wchar_t decoded;
    switch (e) {
      case '\\': decoded = L'\\'; break;
      case '"': decoded = L'"'; break;
      case 'n': decoded = L'\n'; break;
      case 'r': decoded = L'\r'; break;
      case 't': decoded = L'\t'; break;
      case '0': decoded = L'\0'; break;
      case 'u': {
        if (pos >= text.size() || text[pos] != '{') return false;
        ++pos;
        std::uint64_t value = 0;
        int digits = 0;
        while (pos < text.size() && hexValue(text[pos]) >= 0 && digits < 8) {
          value = value * 16 + static_cast<std::uint64_t>(hexValue(text[pos++]));
          ++digits;
        }
        if (digits == 0 || pos >= text.size() || text[pos] != '}') return false;
        ++pos;
        decoded = static_cast<wchar_t>(static_cast<std::uint32_t>(value));
        break;
      }
      default: return false;
    }
    flush();
    out += decoded;
  }
  return false;
}

bool onlyBlanksFrom(std::string_view text, size_t pos) {
  for (; pos < text.size(); ++pos) {
    if (text[pos] != ' ' && text[pos] != '\t') return false;
  }
  return true;
}

bool parseValueLine(std::string_view line, StoredValue& value) {
  size_t pos = 0;
  if (!line.empty() && line[0] == '@') {
    value.name.clear();
    pos = 1;
  } else if (!readQuoted(line, pos, value.name)) {
    return false;
  }
  if (pos >= line.size() || line[pos] != '=') return false;
  ++pos;
  if (!readQuoted(line, pos, value.data)) return false;
  return onlyBlanksFrom(line, pos);
}

StoredKey* findKey(StoredRoot& root, const std::wstring& path) {
  for (auto& k : root.keys) {
    if (equalsIgnoringCase(k.path, path)) return &k;
  }
  return nullptr;
}

void setValue(StoredKey& key, StoredValue value) {
  for (auto& v : key.values) {
    if (equalsIgnoringCase(v.name, value.name)) {
      v.data = std::move(value.data);
      return;
    }
  }
  key.values.push_back(std::move(value));
}

}  // namespace

std::string quoteStoreString(std::wstring_view text) {
  std::string out = "\"";
  char bytes[4];
  for (wchar_t w : text) {
    auto c = static_cast<std::uint32_t>(w);
    switch (c) {
      case '\\': out += "\\\\"; continue;
      case '"': out += "\\\""; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      case 0: out += "\\0"; continue;
      default: break;
    }
    if (needsCodeEscape(c)) {
      out += "\\u{";
      appendHex(out, c);
      out += '}';
      continue;
    }
    std::wstring_view one(&w, 1);
    out.append(bytes, wideToUtf8Into(one, bytes, sizeof bytes));
  }
  out += '"';
  return out;
}

StoredRoot parseStoreText(std::string_view text) {
  StoredRoot root;
  StoredKey* current = nullptr;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (onlyBlanksFrom(line, 0) || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string_view::npos || !onlyBlanksFrom(line, close + 1)) {
        ++root.damagedLines;
        current = nullptr;
        continue;
      }
      std::wstring path = utf8ToWide(line.substr(1, close - 1));
      current = findKey(root, path);
      if (!current) {
        root.keys.push_back({path, {}});
        current = &root.keys.back();
      }
      continue;
    }
    StoredValue value;
    if (!current || !parseValueLine(line, value)) {
      ++root.damagedLines;
      continue;
    }
    setValue(*current, std::move(value));
  }
  return root;
}

std::string formatStoreText(const StoredRoot& root, std::wstring_view rootName) {
  std::string out = "; Vireo registry store: " + wideToUtf8(rootName) +
                    "\n; Written by the installer's platform layer; edit with care.\n";
  for (const auto& key : root.keys) {
    out += "\n[" + wideToUtf8(key.path) + "]\n";
    for (const auto& v : key.values) {
      out += v.name.empty() ? std::string("@") : quoteStoreString(v.name);
      out += '=';
      out += quoteStoreString(v.data);
      out += '\n';
    }
  }
  return out;
}

}  // namespace platform::registry
