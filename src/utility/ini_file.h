// Writing INI files the way the Windows profile functions
// (WritePrivateProfileStringA / W) do, so that programs reading them with
// GetPrivateProfileString find what we wrote:
//
// - sections and keys are found without regard to case (the first match);
// - a missing file or section is created, a missing key is added at the end
//   of its section, an existing key gets its new value in place;
// - every other byte of the file stays as it was (comments, blank lines,
//   line ends; new lines take the file's own line end, CRLF by default);
// - the file keeps its encoding: a UTF-16 file (with its byte-order mark)
//   stays UTF-16, any other file is single-byte text. The single-byte
//   interface writes the bytes it is given; the wide interface writes its
//   text in the ANSI code page (characters it lacks become '?'), or as
//   UTF-8 into a file that starts with a UTF-8 byte-order mark;
// - the file is replaced atomically, and writes from several threads of
//   the process never lose one another.
//
// A value is cut at its first line break (or zero character), so that a
// value can never add keys or sections of its own. A key that is empty or
// holds "=", or a section that holds "]", is refused, as are line breaks in
// either. Failures return false and set the last error.
#pragma once

#include <string>

namespace utility::ini {

// `section`, `key` and `value` are bytes (ANSI code page, or whatever the
// caller chose, e.g. UTF-8); `path` is a Windows path.
bool writePrivateProfileStringA(const std::string& section, const std::string& key,
                                const std::string& value, const std::wstring& path);

bool writePrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                const std::wstring& value, const std::wstring& path);

}  // namespace utility::ini
