#include "ui/image/png_codec.h"

#include <png.h>

#include <cstring>

#include "utility/log.h"

namespace image {
namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t bigEndian32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// Frees libpng's state whatever way the decoding ends.
struct ImageGuard {
  png_image& image;
  ~ImageGuard() { png_image_free(&image); }
};

// True when the chunks after the signature lie within the bytes up to and
// including the end chunk: a picture cut short is broken even when its
// pixels happen to be complete.
bool chunksReachTheEnd(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t at = sizeof kSignature; at + 12 <= bytes.size();) {
    const std::uint64_t length = bigEndian32(p + at);
    if (std::memcmp(p + at + 4, "IEND", 4) == 0) return true;
    at += 12 + length;  // length, type, data, CRC
  }
  return false;
}

}  // namespace

bool readPngHeader(std::string_view bytes, PngHeader& header) {
  // Signature (8), chunk length (4), "IHDR" (4), then 13 bytes of header.
  if (bytes.size() < 8 + 8 + 13) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (std::memcmp(p, kSignature, sizeof kSignature) != 0) return false;
  if (bigEndian32(p + 8) != 13 || std::memcmp(p + 12, "IHDR", 4) != 0) return false;
  header.width = bigEndian32(p + 16);
  header.height = bigEndian32(p + 20);
  header.bitDepth = p[24];
  header.colourType = p[25];
  header.interlace = p[28];
  return true;
}

bool decodePng(std::string_view bytes, Bitmap& bitmap, std::uint32_t maxSide) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  ImageGuard guard{image};
  if (!chunksReachTheEnd(bytes)) {
    VLOG(L"png without its end chunk");
    return false;
  }
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    VLOG(L"not a readable png: %s", image.message);
    return false;
  }
  if (image.width == 0 || image.height == 0 || image.width > maxSide || image.height > maxSide) {
    VLOG(L"png size %u x %u refused", image.width, image.height);
    return false;
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    VLOG(L"png decoding failed: %s", image.message);
    return false;
  }
  bitmap.width = image.width;
  bitmap.height = image.height;
  bitmap.rgba = std::move(pixels);
  return true;
}

bool encodePng(const Bitmap& bitmap, std::string& bytes) {
  if (bitmap.width == 0 || bitmap.height == 0 ||
      bitmap.rgba.size() != std::size_t{bitmap.width} * bitmap.height * 4) {
    return false;
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = bitmap.width;
  image.height = bitmap.height;
  image.format = PNG_FORMAT_RGBA;
  ImageGuard guard{image};
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, bitmap.rgba.data(), 0, nullptr)) {
    return false;
  }
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, bitmap.rgba.data(), 0, nullptr)) {
    VLOG(L"png encoding failed: %s", image.message);
    return false;
  }
  out.resize(size);
  bytes = std::move(out);
  return true;
}

}  // namespace image
