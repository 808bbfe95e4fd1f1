// String conversions and parsing (utility::ustring). Wide strings stand for
// the UTF-16 of Windows; narrow strings are UTF-8 or the ANSI code page.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/win_constants.h"

namespace utility::ustring {

// MultiByteToWideChar: empty for a null input or a negative length other
// than -1; -1 means zero-terminated (the terminator is not kept).
std::wstring toWide(const char* bytes, int length, UINT codePage);
// WideCharToMultiByte, the same rules in the other direction.
std::string toNarrow(const wchar_t* text, int length, UINT codePage);

std::wstring ansiToWide(const std::string& s);
std::wstring utf8ToWide(const std::string& s);
std::string wideToAnsi(const std::wstring& s);
std::string wideToUtf8(const std::wstring& s);
std::string ansiToUtf8(const std::string& s);  // ANSI -> UTF-16 -> UTF-8

std::wstring removeSpaces(const std::wstring& s);  // every U+0020
std::wstring trim(const std::wstring& s);          // leading and trailing U+0020
std::string trim(const std::string& s);
void toLower(std::wstring& s);                     // A to Z only, in place
bool endsWith(const std::wstring& text, const std::wstring& suffix);

// True when every character of the prefix, skipping "\" and "/" in both,
// matches the next remaining character of the path.
bool pathHasPrefix(const std::wstring& prefix, const std::wstring& path);

// Each piece between delimiters, trimmed (empty pieces included), and the
// trimmed remainder; nothing when the text or the delimiter is empty.
void split(std::vector<std::wstring>& out, const std::wstring& text,
           const std::wstring& delimiter);

// key = text before the first separator, trimmed and lower-cased; skipped
// when empty or without separator; value = the rest, trimmed.
void parseKeyValues(std::map<std::wstring, std::wstring>& out,
                    const std::vector<std::wstring>& lines, const std::wstring& separator);

bool findValue(const std::map<std::wstring, std::wstring>& map, const std::wstring& key,
               std::wstring& value);

bool isDigits(const std::wstring& s);  // true for empty text

}  // namespace utility::ustring
