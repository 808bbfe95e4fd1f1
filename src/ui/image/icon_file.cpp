#include "ui/image/icon_file.h"

#include "platform/files.h"
#include "platform/last_error.h"
#include "ui/image/png_codec.h"
#include "utility/log.h"

namespace image {
namespace {

// A PNG file larger than this is no icon.
constexpr std::uint64_t kMaxPngBytes = 16ull * 1024 * 1024;

constexpr std::uint32_t kDirectoryBytes = 6;
constexpr std::uint32_t kEntryBytes = 16;

void putLittle16(std::string& out, std::uint32_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void putLittle32(std::string& out, std::uint32_t value) {
  putLittle16(out, value & 0xFFFF);
  putLittle16(out, value >> 16);
}

// Width and height bytes of an entry: 256 is stored as 0.
char sideByte(std::uint32_t side) { return static_cast<char>(side == 256 ? 0 : side); }

std::string iconBytes(std::uint32_t width, std::uint32_t height, std::string_view png) {
  std::string out;
  out.reserve(kDirectoryBytes + kEntryBytes + png.size());
  putLittle16(out, 0);  // reserved
  putLittle16(out, 1);  // type: icon
  putLittle16(out, 1);  // one image
  out.push_back(sideByte(width));
  out.push_back(sideByte(height));
  out.push_back(0);     // no palette
  out.push_back(0);     // reserved
  putLittle16(out, 1);  // colour planes
  putLittle16(out, 32);  // bits per pixel
  putLittle32(out, static_cast<std::uint32_t>(png.size()));
  putLittle32(out, kDirectoryBytes + kEntryBytes);
  out.append(png);
  return out;
}

bool isPlainRgba(const PngHeader& header) {
  return header.colourType == 6 && header.bitDepth == 8 && header.interlace == 0;
}

}  // namespace

bool iconFromPng(std::string_view png, std::string& icon) {
  PngHeader header;
  if (!readPngHeader(png, header)) {
    VLOG(L"not a png picture");
    return false;
  }
  // Decoding checks the whole picture, also when its bytes are kept.
  Bitmap bitmap;
  if (!decodePng(png, bitmap, kMaxIconSide)) return false;
  if (isPlainRgba(header)) {
    icon = iconBytes(bitmap.width, bitmap.height, png);
    return true;
  }
  std::string rgba;
  if (!encodePng(bitmap, rgba)) return false;
  icon = iconBytes(bitmap.width, bitmap.height, rgba);
  return true;
}

bool writeIconFromPngFile(const std::wstring& pngPath, const std::wstring& iconPath) {
  std::uint64_t size = 0;
  if (!platform::fileSize(pngPath, size) || size > kMaxPngBytes) {
    VLOG(L"cannot use %ls as an icon picture", pngPath.c_str());
    return false;
  }
  std::string png;
  if (!platform::readFile(pngPath, png, kMaxPngBytes)) {
    VLOG(L"cannot read %ls, lastError = %d", pngPath.c_str(),
         static_cast<int>(platform::getLastError()));
    return false;
  }
  std::string icon;
  if (!iconFromPng(png, icon)) return false;
  if (!platform::writeFileAtomically(iconPath, icon)) {
    VLOG(L"cannot write %ls, lastError = %d", iconPath.c_str(),
         static_cast<int>(platform::getLastError()));
    return false;
  }
  return true;
}

}  // namespace image
