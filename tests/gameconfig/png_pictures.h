// PNG pictures of every kind for the tests, made with libpng.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace gameconfig_tests {

enum class PngKind { Rgba8, Rgb8, Grey8, Palette, Rgba16 };

// A picture of `width` x `height` with a pattern of colours and alpha.
inline std::string makePng(std::uint32_t width, std::uint32_t height, PngKind kind) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  const std::size_t pixels = std::size_t{width} * height;
  std::vector<std::uint8_t> buffer;
  std::vector<std::uint16_t> wide;
  std::vector<std::uint8_t> colourMap;
  const void* data = nullptr;
  const void* map = nullptr;
  switch (kind) {
    case PngKind::Rgba8:
      image.format = PNG_FORMAT_RGBA;
      for (std::size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < 4; ++c) buffer.push_back(static_cast<std::uint8_t>(i * (c + 3) + c * 50));
      }
      data = buffer.data();
      break;
    case PngKind::Rgb8:
      image.format = PNG_FORMAT_RGB;
      for (std::size_t i = 0; i < pixels * 3; ++i) buffer.push_back(static_cast<std::uint8_t>(i * 7));
      data = buffer.data();
      break;
    case PngKind::Grey8:
      image.format = PNG_FORMAT_GRAY;
      for (std::size_t i = 0; i < pixels; ++i) buffer.push_back(static_cast<std::uint8_t>(i * 5));
      data = buffer.data();
      break;
    case PngKind::Palette:
      image.format = PNG_FORMAT_RGBA_COLORMAP;
      image.colormap_entries = 4;
      colourMap = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 255, 255, 255, 255};
      for (std::size_t i = 0; i < pixels; ++i) buffer.push_back(static_cast<std::uint8_t>(i % 4));
      data = buffer.data();
      map = colourMap.data();
      break;
    case PngKind::Rgba16:
      image.format = PNG_FORMAT_LINEAR_RGB_ALPHA;
      for (std::size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < 3; ++c) wide.push_back(static_cast<std::uint16_t>(i * 997 * (c + 1)));
        wide.push_back(65535);
      }
      data = wide.data();
      break;
  }
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, data, 0, map);
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, data, 0, map)) return {};
  out.resize(size);
  png_image_free(&image);
  return out;
}

}  // namespace gameconfig_tests
