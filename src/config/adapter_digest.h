// The adapter digest: an identifier computed from the network adapters'
// hardware addresses, the same on every run of a machine.
#pragma once

#include <string>
#include <vector>

// One 12-digit upper-case hexadecimal text per adapter, in the system's
// order; adapters whose address is all zero are left out, duplicates stay.
std::vector<std::wstring> getMacAddressList();

// MD5 (lower-case hexadecimal) of the sorted addresses joined with "|",
// preceded by the count in hexadecimal and "-" when there is more than one
// adapter. Empty when there is none.
std::string getMacDigest();
