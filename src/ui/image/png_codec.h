// PNG pictures in and out of memory (libpng's simplified interface).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace image {

// 8-bit RGBA pixels, rows from the top, no padding (width * 4 bytes a row).
struct Bitmap {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;
};

// What a PNG's header (IHDR) says. False when the bytes do not start with a
// PNG signature and a header chunk.
struct PngHeader {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bitDepth = 0;
  int colourType = 0;  // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
  int interlace = 0;   // 0 none, 1 Adam7
};
bool readPngHeader(std::string_view bytes, PngHeader& header);

// Decodes the whole picture into RGBA (palette, grey, 16-bit and
// transparency chunks are converted). A picture wider or higher than
// `maxSide` is refused before its pixels are decoded. False for anything
// libpng does not read to the end without an error.
bool decodePng(std::string_view bytes, Bitmap& bitmap, std::uint32_t maxSide);

// Encodes RGBA pixels as an 8-bit RGBA PNG.
bool encodePng(const Bitmap& bitmap, std::string& bytes);

}  // namespace image
