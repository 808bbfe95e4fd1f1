#include "payload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "config/edition_catalogue.h"
#include "platform/code_signing.h"
#include "platform/last_error.h"

namespace standin {
namespace {

void putLittleEndian(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t getLittleEndian(const unsigned char* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

bool readAt(int fd, void* out, std::size_t size, std::uint64_t offset) {
  auto* cursor = static_cast<unsigned char*>(out);
  while (size > 0) {
    ssize_t n = ::pread(fd, cursor, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    cursor += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string encodePayloadFooter(std::uint32_t edition, std::uint64_t emulatorSize,
                                std::uint64_t consoleSize) {
  std::string footer(kPayloadMagic, sizeof kPayloadMagic);
  putLittleEndian(footer, edition, 4);
  putLittleEndian(footer, 0, 4);
  putLittleEndian(footer, emulatorSize, 8);
  putLittleEndian(footer, consoleSize, 8);
  return footer;
}

bool readPayloadIndex(const std::string& hostFile, PayloadIndex& index, std::string& error) {
  platform::SignatureLayout layout;
  if (!platform::readSignatureLayoutOfHostFile(hostFile, layout)) {
    error = "cannot read " + hostFile;
    return false;
  }
  if (layout.kind == platform::SignatureLayout::Kind::Damaged) {
    error = "the signature is damaged: " + layout.reason;
    return false;
  }
  std::uint64_t end = layout.contentLength;
  unsigned char footer[kPayloadFooterSize];
  int fd = ::open(hostFile.c_str(), O_RDONLY | O_CLOEXEC);
  bool read = fd >= 0 && end >= kPayloadFooterSize && readAt(fd, footer, sizeof footer, end - kPayloadFooterSize);
  if (fd >= 0) ::close(fd);
  if (!read || std::memcmp(footer, kPayloadMagic, sizeof kPayloadMagic) != 0) {
    error = "no payload: this is the bare installer program, not a packed full installer";
    return false;
  }
  index.edition = static_cast<std::uint32_t>(getLittleEndian(footer + 8, 4));
  index.emulator.size = getLittleEndian(footer + 16, 8);
  index.console.size = getLittleEndian(footer + 24, 8);
  std::uint64_t room = end - kPayloadFooterSize;
  if (index.edition >= static_cast<std::uint32_t>(config::kEditionCount) ||
      index.console.size > room || index.emulator.size > room - index.console.size) {
    error = "the payload index is damaged";
    return false;
  }
  index.console.offset = room - index.console.size;
  index.emulator.offset = index.console.offset - index.emulator.size;
  return true;
}

std::uint32_t extractPayloadPart(const std::string& hostFile, const PayloadPart& part,
                                 const std::string& target) {
  std::string partial = target + ".part";
  int in = ::open(hostFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return platform::windowsErrorFromErrno(errno);
  int out = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
  if (out < 0) {
    int e = errno;
    ::close(in);
    return platform::windowsErrorFromErrno(e);
  }
  std::vector<char> buffer(1 << 16);
  std::uint64_t done = 0;
  int failure = 0;
  while (!failure && done < part.size) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), part.size - done));
    if (!readAt(in, buffer.data(), want, part.offset + done)) failure = errno ? errno : EIO;
    else if (!writeAll(out, buffer.data(), want)) failure = errno ? errno : EIO;
    done += want;
  }
  if (!failure && (::fchmod(out, 0755) != 0 || ::fsync(out) != 0)) failure = errno;
  if (::close(out) != 0 && !failure) failure = errno;
  ::close(in);
  if (!failure && ::rename(partial.c_str(), target.c_str()) != 0) failure = errno;
  if (failure) {
    ::unlink(partial.c_str());
    return platform::windowsErrorFromErrno(failure);
  }
  return 0;
}

}  // namespace standin
