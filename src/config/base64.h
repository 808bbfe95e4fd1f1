// Base64 text (RFC 4648, standard alphabet, "=" padding, no line breaks).
#pragma once

#include <cstddef>
#include <string>

std::string base64Encode(const unsigned char* data, size_t length);

// Decodes the leading run of alphabet characters; the first "=" or any other
// character ends it. A final group of 2 or 3 characters gives 1 or 2 bytes; a
// single leftover character gives nothing.
std::string base64Decode(const std::string& text);
