#include "platform/shell_link.h"

#include <cstdint>
#include <limits>
#include <string>

#include "platform/code_pages.h"
#include "platform/desktop_entry.h"
#include "platform/files.h"
#include "platform/last_error.h"

namespace platform {
namespace {

// [MS-SHLLINK] numbers.
constexpr std::uint32_t kHeaderSize = 0x4C;
constexpr std::uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::uint32_t kHasLinkInfo = 0x02;
constexpr std::uint32_t kHasWorkingDir = 0x10;
constexpr std::uint32_t kHasArguments = 0x20;
constexpr std::uint32_t kHasIconLocation = 0x40;
constexpr std::uint32_t kIsUnicode = 0x80;
constexpr std::uint32_t kFileAttributeDirectory = 0x10;
constexpr std::uint32_t kFileAttributeArchive = 0x20;
constexpr std::uint32_t kShowNormal = 1;

// Link information with the Unicode offsets: header of 0x24 bytes.
constexpr std::uint32_t kLinkInfoHeaderSize = 0x24;
constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x01;
constexpr std::uint32_t kVolumeIdHeaderSize = 0x10;
constexpr std::uint32_t kDriveFixed = 3;

class Bytes {
 public:
  void u16(std::uint16_t v) {
    for (int i = 0; i < 2; ++i) data_ += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data_ += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  void zeros(size_t n) { data_.append(n, '\0'); }
  void raw(const void* p, size_t n) { data_.append(static_cast<const char*>(p), n); }
  void raw(const std::string& s) { data_ += s; }
  size_t size() const { return data_.size(); }
  const std::string& data() const { return data_; }

 private:
  std::string data_;
};

// UTF-16 LE bytes of a wide text (UTF-32 here), characters above U+FFFF as
// surrogate pairs.
std::string utf16le(const std::wstring& text) {
  Bytes out;
  for (wchar_t w : text) {
    auto c = static_cast<std::uint32_t>(w);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.u16(static_cast<std::uint16_t>(0xD800 | (c >> 10)));
      out.u16(static_cast<std::uint16_t>(0xDC00 | (c & 0x3FF)));
    } else {
      out.u16(static_cast<std::uint16_t>(c));
    }
  }
  return out.data();
}

// A StringData entry: the count of UTF-16 units, then the units (no terminator).
bool appendStringData(Bytes& out, const std::wstring& text) {
  std::string units = utf16le(text);
  if (units.size() / 2 > std::numeric_limits<std::uint16_t>::max()) return false;
  out.u16(static_cast<std::uint16_t>(units.size() / 2));
  out.raw(units);
  return true;
}

std::string linkInfo(const std::wstring& target) {
  std::string ansiPath = toNarrow(target, 0);
  std::string unicodePath = utf16le(target);

  const std::uint32_t volumeIdOffset = kLinkInfoHeaderSize;
  const std::uint32_t volumeIdSize = kVolumeIdHeaderSize + 1;  // empty label
  const std::uint32_t localBasePathOffset = volumeIdOffset + volumeIdSize;
  const auto commonPathSuffixOffset =
      static_cast<std::uint32_t>(localBasePathOffset + ansiPath.size() + 1);
  const std::uint32_t localBasePathUnicodeOffset = commonPathSuffixOffset + 1;
  const auto commonPathSuffixUnicodeOffset =
      static_cast<std::uint32_t>(localBasePathUnicodeOffset + unicodePath.size() + 2);
  const std::uint32_t size = commonPathSuffixUnicodeOffset + 2;

  Bytes out;
  out.u32(size);
  out.u32(kLinkInfoHeaderSize);
  out.u32(kVolumeIdAndLocalBasePath);
  out.u32(volumeIdOffset);
  out.u32(localBasePathOffset);
  out.u32(0);  // no common network relative link
  out.u32(commonPathSuffixOffset);
  out.u32(localBasePathUnicodeOffset);
  out.u32(commonPathSuffixUnicodeOffset);
  // VolumeID: size, drive type, serial number, label offset, empty label.
  out.u32(volumeIdSize);
  out.u32(kDriveFixed);
  out.u32(0);
  out.u32(kVolumeIdHeaderSize);
  out.zeros(1);
  out.raw(ansiPath);
  out.zeros(1);
  out.zeros(1);  // empty common path suffix
  out.raw(unicodePath);
  out.zeros(2);
  out.zeros(2);  // empty common path suffix, Unicode
  return out.data();
}

void appendHeader(Bytes& out, std::uint32_t flags, const ShellLink& link) {
  std::uint64_t targetSize = 0;
  bool folder = isDirectory(link.target);
  if (!folder) fileSize(link.target, targetSize);
  out.u32(kHeaderSize);
  out.raw(kLinkClsid, sizeof kLinkClsid);
  out.u32(flags);
  out.u32(folder ? kFileAttributeDirectory : kFileAttributeArchive);
  out.zeros(24);  // creation, access and write times: not recorded
  out.u32(static_cast<std::uint32_t>(targetSize));
  out.u32(static_cast<std::uint32_t>(link.iconIndex));
  out.u32(kShowNormal);
  out.zeros(2 + 2 + 4 + 4);  // hot key and reserved fields
}

}  // namespace

bool writeShellLink(const std::wstring& linkPath, const ShellLink& link) {
  if (link.target.empty()) {
    setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::uint32_t flags = kHasLinkInfo | kIsUnicode;
  if (!link.workingDir.empty()) flags |= kHasWorkingDir;
  if (!link.arguments.empty()) flags |= kHasArguments;
  if (!link.iconPath.empty()) flags |= kHasIconLocation;

  Bytes out;
  appendHeader(out, flags, link);
  out.raw(linkInfo(link.target));
  bool fits = true;
  if (flags & kHasWorkingDir) fits = fits && appendStringData(out, link.workingDir);
  if (flags & kHasArguments) fits = fits && appendStringData(out, link.arguments);
  if (flags & kHasIconLocation) fits = fits && appendStringData(out, link.iconPath);
  if (!fits) {
    setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  out.u32(0);  // the terminal block that ends the extra data
  if (!writeFileAtomically(linkPath, out.data())) return false;
  // The link is what the installer reads back; the launcher is a courtesy to
  // the Linux desktop, and failing to write it does not fail the link.
  if (isOnDesktop(linkPath)) writeDesktopEntry(linkPath, link);
  return true;
}

}  // namespace platform
