#include "ui/image/icon_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/drives.h"
#include "platform/machine_profile.h"
#include "png_pictures.h"
#include "support/sandbox.h"
#include "ui/image/png_codec.h"

namespace {

using gameconfig_tests::makePng;
using gameconfig_tests::PngKind;

std::uint32_t little16(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8);
}
std::uint32_t little32(const std::string& b, std::size_t at) {
  return little16(b, at) | (little16(b, at + 2) << 16);
}

// The icon's one entry, checked, and the picture it holds.
std::string iconPicture(const std::string& icon, std::uint32_t width, std::uint32_t height) {
  EXPECT_GE(icon.size(), 22u);
  if (icon.size() < 22) return {};
  EXPECT_EQ(little16(icon, 0), 0u);  // reserved
  EXPECT_EQ(little16(icon, 2), 1u);  // icon
  EXPECT_EQ(little16(icon, 4), 1u);  // one image
  EXPECT_EQ(static_cast<std::uint8_t>(icon[6]), width == 256 ? 0 : width);
  EXPECT_EQ(static_cast<std::uint8_t>(icon[7]), height == 256 ? 0 : height);
  EXPECT_EQ(icon[8], 0);
  EXPECT_EQ(icon[9], 0);
  EXPECT_EQ(little16(icon, 10), 1u);   // planes
  EXPECT_EQ(little16(icon, 12), 32u);  // bits
  EXPECT_EQ(little32(icon, 14), icon.size() - 22);
  EXPECT_EQ(little32(icon, 18), 22u);
  return icon.substr(22);
}

TEST(IconFromPng, AnRgbaPictureIsStoredUnchanged) {
  for (std::uint32_t side : {16u, 48u, 256u}) {
    const std::string png = makePng(side, side, PngKind::Rgba8);
    std::string icon;
    ASSERT_TRUE(image::iconFromPng(png, icon)) << side;
    EXPECT_EQ(iconPicture(icon, side, side), png) << side;
  }
}

// Other kinds become 8-bit RGBA pictures with the same pixels.
TEST(IconFromPng, OtherKindsAreReencodedAsRgba) {
  for (PngKind kind : {PngKind::Rgb8, PngKind::Grey8, PngKind::Palette, PngKind::Rgba16}) {
    const std::string png = makePng(32, 20, kind);
    image::PngHeader source;
    ASSERT_TRUE(image::readPngHeader(png, source));
    ASSERT_FALSE(source.colourType == 6 && source.bitDepth == 8);

    std::string icon;
    ASSERT_TRUE(image::iconFromPng(png, icon));
    const std::string stored = iconPicture(icon, 32, 20);
    image::PngHeader header;
    ASSERT_TRUE(image::readPngHeader(stored, header));
    EXPECT_EQ(header.colourType, 6);
    EXPECT_EQ(header.bitDepth, 8);
    image::Bitmap before, after;
    ASSERT_TRUE(image::decodePng(png, before, 256));
    ASSERT_TRUE(image::decodePng(stored, after, 256));
    EXPECT_EQ(before.rgba, after.rgba) << source.colourType;
  }
}

TEST(IconFromPng, BrokenOrOversizedPicturesAreRefused) {
  const std::string good = makePng(64, 64, PngKind::Rgba8);
  std::string badCrc = good;
  const std::size_t idat = badCrc.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  badCrc[idat + 10] ^= 0x55;  // inside the compressed pixels
  std::string badHeader = good;
  badHeader[19] = 0;  // width 0 (the header's CRC no longer matches either)
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"not a picture", "GIF89a and some more bytes to pass the length check"},
      {"signature only", good.substr(0, 8)},
      {"cut in the pixels", good.substr(0, good.size() / 2)},
      {"cut before the end chunk", good.substr(0, good.size() - 12)},
      {"damaged pixels", badCrc},
      {"damaged header", badHeader},
      {"wider than 256", makePng(257, 16, PngKind::Rgba8)},
      {"higher than 256", makePng(16, 300, PngKind::Palette)},
  };
  for (const auto& [what, png] : cases) {
    std::string icon = "untouched";
    EXPECT_FALSE(image::iconFromPng(png, icon)) << what;
    EXPECT_EQ(icon, "untouched") << what;
  }
}

class IconFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_.installInProcess();
    std::filesystem::create_directories(host(""));
  }
  void TearDown() override {
    platform::installMachineProfile(platform::MachineProfile{});
    platform::resetDriveTable();
  }
  std::string host(const std::string& name) const {
    return sandbox_.driveRoot('C') + "/data/" + name;
  }

  vireo::testing::Sandbox sandbox_;
};

TEST_F(IconFileTest, WritesTheIconBesideThePicture) {
  const std::string png = makePng(128, 128, PngKind::Palette);
  vireo::testing::writeHostFile(host("game.png"), png);
  ASSERT_TRUE(image::writeIconFromPngFile(L"C:\\data\\game.png", L"C:\\data\\game.ico"));
  std::string expected;
  ASSERT_TRUE(image::iconFromPng(png, expected));
  EXPECT_EQ(vireo::testing::readHostFile(host("game.ico")), expected);
  EXPECT_EQ(vireo::testing::readHostFile(host("game.png")), png);
}

TEST_F(IconFileTest, ABrokenPictureWritesNothing) {
  vireo::testing::writeHostFile(host("game.png"), "<html>404</html>");
  EXPECT_FALSE(image::writeIconFromPngFile(L"C:\\data\\game.png", L"C:\\data\\game.ico"));
  EXPECT_FALSE(vireo::testing::hostFileExists(host("game.ico")));
  // An icon already there is not replaced by a broken picture.
  vireo::testing::writeHostFile(host("game.ico"), "old icon");
  EXPECT_FALSE(image::writeIconFromPngFile(L"C:\\data\\game.png", L"C:\\data\\game.ico"));
  EXPECT_EQ(vireo::testing::readHostFile(host("game.ico")), "old icon");
  EXPECT_FALSE(image::writeIconFromPngFile(L"C:\\data\\missing.png", L"C:\\data\\x.ico"));
  EXPECT_FALSE(vireo::testing::hostFileExists(host("x.ico")));
}

}  // namespace
