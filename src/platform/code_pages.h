// Conversions between wide text (UTF-32 wchar_t on Linux, standing for the
// UTF-16 of Windows) and narrow text in a code page, with the behaviour of
// MultiByteToWideChar / WideCharToMultiByte with flags 0: bytes that do not
// decode become U+FFFD, characters that do not encode become '?'.
#pragma once

#include <string>
#include <string_view>

namespace platform {

constexpr unsigned kCodePageUtf8 = 65001;
constexpr unsigned kCodePageGbk = 936;

// The ANSI code page in force: the profile's "ansiCodePage", else GBK (936).
unsigned ansiCodePage();

bool codePageSupported(unsigned codePage);

// codePage 0 (CP_ACP) means the ANSI code page.
std::wstring toWide(std::string_view bytes, unsigned codePage);
std::string toNarrow(std::wstring_view text, unsigned codePage);

// Writes the UTF-8 form of `text` into `out` without allocating; stops before
// a character that would not fit whole. Returns the bytes written.
size_t wideToUtf8Into(std::wstring_view text, char* out, size_t capacity);

inline std::wstring utf8ToWide(std::string_view s) { return toWide(s, kCodePageUtf8); }
inline std::string wideToUtf8(std::wstring_view s) { return toNarrow(s, kCodePageUtf8); }

}  // namespace platform
