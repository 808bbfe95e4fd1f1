// Windows icon files (.ico) made from a PNG picture: the icon directory
// with one entry, followed by the picture as PNG (the form Windows reads
// since Vista for icons of any size up to 256 x 256).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace image {

constexpr std::uint32_t kMaxIconSide = 256;

// The bytes of an icon file holding the picture. An 8-bit RGBA picture is
// stored unchanged; any other kind (palette, grey, RGB, 16-bit, interlaced)
// is decoded and stored re-encoded as 8-bit RGBA. False, and `icon`
// unchanged, for a broken picture or one larger than 256 on a side.
bool iconFromPng(std::string_view png, std::string& icon);

// Reads the PNG file and writes the icon file (atomically, replacing one of
// the same name). Nothing is written when the picture is refused.
bool writeIconFromPngFile(const std::wstring& pngPath, const std::wstring& iconPath);

}  // namespace image
