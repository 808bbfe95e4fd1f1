// The two headers that sign an upload: "timestamp: T" and "signature: S".
// T is the request time in ms (whole seconds x 1000 plus the tick's last
// three digits); S is the last 8 hex digits of the MD5 of the signing text,
// the fixed prefix followed by T and N x 1024 in decimal (N events).
#pragma once

#include <cstdint>
#include <string>

namespace report {

// The request time T of an upload made now.
std::uint64_t requestTimestamp();

std::string signingText(std::uint64_t timestamp, std::uint32_t eventCount);

// False (and `signature` untouched) when the digest could not be computed.
bool uploadSignature(std::uint64_t timestamp, std::uint32_t eventCount, std::string& signature);

}  // namespace report
