// MD5 digests (RFC 1321) written as 32 lower-case hexadecimal characters.
#pragma once

#include <cstddef>
#include <string>

// True with the digest text in `out`; false, leaving `out` as it was, when the
// input is missing or its length is 0 or negative.
bool md5Hex(const unsigned char* data, std::ptrdiff_t length, std::string& out);
