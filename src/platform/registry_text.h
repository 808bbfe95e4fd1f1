// The text form of one registry root's store file, in the manner of
// regedit's export:
//
//   ; comment
//   [Software\zk\varedori]
//   "pcidex"="text with \"quotes\", \\, \n and \u{1f}"
//   @="the key's default value"
//
// Names and values may hold any character: backslash, quote, CR, LF, TAB and
// NUL have short escapes, other control and unencodable characters are
// written as \u{hex}; the rest is UTF-8. Lines that do not parse are skipped
// (and counted), so a damaged file reads as missing values, never as a crash.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::registry {

struct StoredValue {
  std::wstring name;  // empty: the default value ("@")
  std::wstring data;
};

struct StoredKey {
  std::wstring path;  // components joined by '\', in the case of first writing
  std::vector<StoredValue> values;
};

struct StoredRoot {
  std::vector<StoredKey> keys;
  size_t damagedLines = 0;  // lines that did not parse and were skipped
};

StoredRoot parseStoreText(std::string_view text);
std::string formatStoreText(const StoredRoot& root, std::wstring_view rootName);

// The escaped, quoted form of a name or value ("a\"b" for a"b).
std::string quoteStoreString(std::wstring_view text);

}  // namespace platform::registry
