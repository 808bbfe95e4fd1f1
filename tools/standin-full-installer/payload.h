// The payload a stand-in full installer carries, like a real offline
// installer: the emulator and console programs and the edition number,
// appended to the installer program before its signature.
//
//   installer program | padding | emulator | console | footer (32 bytes) | signature
//
// Footer, little-endian: "VRSTPAY1", edition (u32), 0 (u32), emulator size
// (u64), console size (u64). The footer ends where the signed content ends.
#pragma once

#include <cstdint>
#include <string>

namespace standin {

constexpr char kPayloadMagic[8] = {'V', 'R', 'S', 'T', 'P', 'A', 'Y', '1'};
constexpr std::size_t kPayloadFooterSize = 32;

struct PayloadPart {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

struct PayloadIndex {
  std::uint32_t edition = 0;
  PayloadPart emulator;
  PayloadPart console;
};

std::string encodePayloadFooter(std::uint32_t edition, std::uint64_t emulatorSize,
                                std::uint64_t consoleSize);

// Reads the index of a packed installer file (signed or not). False with a
// reason when the file carries no payload or a damaged one.
bool readPayloadIndex(const std::string& hostFile, PayloadIndex& index, std::string& error);

// Copies one part of the file to `target` (a temporary beside it, then a
// rename), executable by everyone. 0 or the Windows error code.
std::uint32_t extractPayloadPart(const std::string& hostFile, const PayloadPart& part,
                                 const std::string& target);

}  // namespace standin
