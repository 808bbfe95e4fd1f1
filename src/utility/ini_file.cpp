#include "utility/ini_file.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/case_folding.h"
#include "platform/code_pages.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "utility/log.h"

namespace utility::ini {
namespace {

constexpr unsigned kAnsiCodePage = 0;  // CP_ACP

// Profile files are small; a larger file is refused rather than read whole.
constexpr std::uint64_t kMaxFileBytes = 64ull * 1024 * 1024;

enum class Encoding { Ansi, Utf8WithMark, Utf16Le, Utf16Be };

Encoding detectEncoding(std::string_view bytes, std::size_t& markLength) {
  auto startsWith = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (startsWith("\xFF\xFE")) return markLength = 2, Encoding::Utf16Le;
  if (startsWith("\xFE\xFF")) return markLength = 2, Encoding::Utf16Be;
  if (startsWith("\xEF\xBB\xBF")) return markLength = 3, Encoding::Utf8WithMark;
  markLength = 0;
  return Encoding::Ansi;
}

// --- UTF-16 (wide strings are UTF-32 here) ---------------------------------

std::u16string wideToUtf16(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    auto code = static_cast<std::uint32_t>(c);
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

std::wstring utf16ToWide(std::u16string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      unit = 0xFFFD;
    }
    out.push_back(static_cast<wchar_t>(unit));
  }
  return out;
}

std::u16string bytesToUnits(std::string_view bytes, bool bigEndian) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto first = static_cast<unsigned char>(bytes[i]);
    auto second = static_cast<unsigned char>(bytes[i + 1]);
    out.push_back(static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first));
  }
  return out;
}

std::string unitsToBytes(std::u16string_view units, bool bigEndian) {
  std::string out;
  out.reserve(units.size() * 2);
  for (char16_t unit : units) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out.push_back(bigEndian ? high : low);
    out.push_back(bigEndian ? low : high);
  }
  return out;
}

// --- the edit, on bytes or on UTF-16 units -----------------------------------

struct Line {
  std::size_t begin;  // first unit
  std::size_t end;    // end of the content (before "\r\n" or "\n")
  std::size_t next;   // first unit after the line end; == end at the end of the file
};

template <class S>
using Decoder = std::function<std::wstring(const S&)>;

template <class S>
constexpr typename S::value_type unit(char c) {
  return static_cast<typename S::value_type>(c);
}

template <class S>
bool isBlank(typename S::value_type c) {
  return c == unit<S>(' ') || c == unit<S>('\t');
}

template <class S>
S trimmed(const S& text, std::size_t begin, std::size_t end) {
  while (begin < end && isBlank<S>(text[begin])) ++begin;
  while (end > begin && isBlank<S>(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

template <class S>
std::vector<Line> splitLines(const S& text, std::size_t start) {
  std::vector<Line> lines;
  for (std::size_t pos = start; pos < text.size();) {
    const std::size_t feed = text.find(unit<S>('\n'), pos);
    Line line{pos, text.size(), text.size()};
    if (feed != S::npos) {
      line.next = feed + 1;
      line.end = (feed > pos && text[feed - 1] == unit<S>('\r')) ? feed - 1 : feed;
    }
    lines.push_back(line);
    pos = line.next;
  }
  return lines;
}

// The line end new lines get: the file's first one, CRLF when it has none.
template <class S>
S lineEndOf(const S& text, std::size_t start) {
  const std::size_t feed = text.find(unit<S>('\n'), start);
  if (feed != S::npos && (feed == start || text[feed - 1] != unit<S>('\r'))) return S(1, unit<S>('\n'));
  return S{unit<S>('\r'), unit<S>('\n')};
}

template <class S>
bool isBlankLine(const S& text, const Line& line) {
  for (std::size_t i = line.begin; i < line.end; ++i) {
    if (!isBlank<S>(text[i])) return false;
  }
  return true;
}

// "[name]": true with the name for a section header (a line whose first
// non-blank character is "[").
template <class S>
bool readSectionHeader(const S& text, const Line& line, S& name) {
  std::size_t begin = line.begin;
  while (begin < line.end && isBlank<S>(text[begin])) ++begin;
  if (begin >= line.end || text[begin] != unit<S>('[')) return false;
  std::size_t close = text.find(unit<S>(']'), begin + 1);
  if (close == S::npos || close > line.end) close = line.end;
  name = trimmed(text, begin + 1, close);
  return true;
}

// "key=value": true with the key and where the value starts.
template <class S>
bool readKeyLine(const S& text, const Line& line, S& key, std::size_t& valueBegin) {
  std::size_t begin = line.begin;
  while (begin < line.end && isBlank<S>(text[begin])) ++begin;
  if (begin >= line.end || text[begin] == unit<S>('[')) return false;
  const std::size_t equals = text.find(unit<S>('='), begin);
  if (equals == S::npos || equals >= line.end) return false;
  key = trimmed(text, begin, equals);
  valueBegin = equals + 1;
  return true;
}

template <class S>
bool sameName(const S& a, const S& b, const Decoder<S>& decode) {
  return platform::equalsIgnoringCase(decode(a), decode(b));
}

// Sets section/key to value in the text (units from `start` on; what comes
// before, a byte-order mark, is kept).
template <class S>
void setValue(S& text, std::size_t start, const S& section, const S& key, const S& value,
              const Decoder<S>& decode) {
  const std::vector<Line> lines = splitLines(text, start);
  const S lineEnd = lineEndOf(text, start);
  S entry = key;
  entry += unit<S>('=');
  entry += value;

  std::size_t header = lines.size();
  for (std::size_t i = 0; i < lines.size() && header == lines.size(); ++i) {
    S name;
    if (readSectionHeader(text, lines[i], name) && sameName(name, section, decode)) header = i;
  }
  if (header == lines.size()) {
    S addition;
    if (text.size() > start && text.back() != unit<S>('\n')) addition += lineEnd;
    addition += unit<S>('[');
    addition += section;
    addition += unit<S>(']');
    addition += lineEnd + entry + lineEnd;
    text += addition;
    return;
  }

  std::size_t lastContent = header;
  for (std::size_t i = header + 1; i < lines.size(); ++i) {
    S name;
    std::size_t valueBegin = 0;
    if (readSectionHeader(text, lines[i], name)) break;
    if (readKeyLine(text, lines[i], name, valueBegin) && sameName(name, key, decode)) {
      text.replace(valueBegin, lines[i].end - valueBegin, value);
      return;
    }
    if (!isBlankLine(text, lines[i])) lastContent = i;
  }
  // A new key goes right after the section's last line that is not blank.
  const Line& after = lines[lastContent];
  S insertion;
  if (after.next == after.end) insertion += lineEnd;  // the file's last line, unterminated
  insertion += entry + lineEnd;
  text.insert(after.next, insertion);
}

// --- checks of the caller's names and value ----------------------------------

template <class S>
bool holdsAny(const S& text, std::string_view characters) {
  for (char c : characters) {
    if (text.find(unit<S>(c)) != S::npos) return true;
  }
  return false;
}

template <class S>
S cutAtLineBreak(const S& value) {
  std::size_t cut = value.size();
  for (char c : {'\r', '\n', '\0'}) cut = std::min(cut, value.find(unit<S>(c)));
  return value.substr(0, cut);
}

// Trims the names and checks them; cuts the value.
template <class S>
bool prepare(S& section, S& key, S& value) {
  section = trimmed(section, 0, section.size());
  key = trimmed(key, 0, key.size());
  value = cutAtLineBreak(value);
  const std::string_view breaks("\r\n\0", 3);
  if (section.empty() || holdsAny(section, breaks) || holdsAny(section, "]")) return false;
  if (key.empty() || holdsAny(key, breaks) || holdsAny(key, "=") || key[0] == unit<S>('[')) {
    return false;
  }
  return true;
}

// --- the file ----------------------------------------------------------------

std::mutex& fileLock() {
  static std::mutex lock;
  return lock;
}

// The file's bytes, or empty for a missing file; false when it cannot be read.
bool readProfile(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  if (!platform::pathExists(path)) return true;
  if (platform::isDirectory(path)) {
    platform::setLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  std::uint64_t size = 0;
  if (platform::fileSize(path, size) && size > kMaxFileBytes) {
    platform::setLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  return platform::readFile(path, bytes, kMaxFileBytes);
}

bool writeBytesFile(std::string& file, std::size_t markLength, Encoding encoding,
                    std::string section, std::string key, std::string value) {
  if (!prepare(section, key, value)) return false;
  const unsigned codePage = encoding == Encoding::Utf8WithMark ? platform::kCodePageUtf8 : kAnsiCodePage;
  Decoder<std::string> decode = [codePage](const std::string& s) {
    return platform::toWide(s, codePage);
  };
  setValue(file, markLength, section, key, value, decode);
  return true;
}

bool writeUnitsFile(std::string& file, std::size_t markLength, Encoding encoding,
                    std::u16string section, std::u16string key, std::u16string value) {
  if (!prepare(section, key, value)) return false;
  const bool bigEndian = encoding == Encoding::Utf16Be;
  std::u16string units = bytesToUnits(std::string_view(file).substr(markLength), bigEndian);
  // An odd last byte is no unit; it stays where it is, at the end.
  const std::string oddTail = (file.size() - markLength) % 2 ? file.substr(file.size() - 1) : "";
  Decoder<std::u16string> decode = [](const std::u16string& s) { return utf16ToWide(s); };
  setValue(units, 0, section, key, value, decode);
  file = file.substr(0, markLength) + unitsToBytes(units, bigEndian) + oddTail;
  return true;
}

struct Texts {
  std::string section, key, value;  // bytes for a single-byte file
  std::u16string sectionUnits, keyUnits, valueUnits;  // for a UTF-16 file
};

bool writeProfile(const std::wstring& path, const std::function<Texts(Encoding)>& textsFor) {
  std::lock_guard<std::mutex> lock(fileLock());
  std::string file;
  if (!readProfile(path, file)) {
    VLOG(L"cannot read %ls, lastError = %d", path.c_str(), static_cast<int>(platform::getLastError()));
    return false;
  }
  std::size_t markLength = 0;
  const Encoding encoding = detectEncoding(file, markLength);
  Texts texts = textsFor(encoding);
  const bool utf16 = encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be;
  const bool edited =
      utf16 ? writeUnitsFile(file, markLength, encoding, texts.sectionUnits, texts.keyUnits,
                             texts.valueUnits)
            : writeBytesFile(file, markLength, encoding, texts.section, texts.key, texts.value);
  if (!edited) {
    platform::setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!platform::writeFileAtomically(path, file)) {
    VLOG(L"cannot write %ls, lastError = %d", path.c_str(), static_cast<int>(platform::getLastError()));
    return false;
  }
  return true;
}

}  // namespace

bool writePrivateProfileStringA(const std::string& section, const std::string& key,
                                const std::string& value, const std::wstring& path) {
  return writeProfile(path, [&](Encoding encoding) {
    Texts texts{section, key, value, {}, {}, {}};
    if (encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be) {
      // The bytes are ANSI text: a Unicode file gets their characters.
      texts.sectionUnits = wideToUtf16(platform::toWide(section, kAnsiCodePage));
      texts.keyUnits = wideToUtf16(platform::toWide(key, kAnsiCodePage));
      texts.valueUnits = wideToUtf16(platform::toWide(value, kAnsiCodePage));
    }
    return texts;
  });
}

bool writePrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                const std::wstring& value, const std::wstring& path) {
  return writeProfile(path, [&](Encoding encoding) {
    Texts texts;
    if (encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be) {
      texts.sectionUnits = wideToUtf16(section);
      texts.keyUnits = wideToUtf16(key);
      texts.valueUnits = wideToUtf16(value);
    } else {
      const unsigned codePage =
          encoding == Encoding::Utf8WithMark ? platform::kCodePageUtf8 : kAnsiCodePage;
      texts.section = platform::toNarrow(section, codePage);
      texts.key = platform::toNarrow(key, codePage);
      texts.value = platform::toNarrow(value, codePage);
    }
    return texts;
  });
}

}  // namespace utility::ini
