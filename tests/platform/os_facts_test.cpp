#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/os_facts.h"
#include "probe_support.h"

namespace {

using vireo::testing::ProfileScope;
using vireo::testing::Sandbox;

TEST(OsFacts, DefaultsAreWindows10On64BitMachines) {
  platform::installMachineProfile({});
  auto real = platform::realWindowsVersion();
  EXPECT_EQ(real.major, 10u);
  EXPECT_EQ(real.minor, 0u);
  EXPECT_EQ(real.build, 19045u);
  auto reported = platform::reportedWindowsVersion();
  EXPECT_EQ(reported.major, 6u);
  EXPECT_EQ(reported.minor, 2u);
  EXPECT_EQ(platform::is64BitWindows(), sizeof(void*) == 8);
}

TEST(OsFacts, TheProfileNamesVersionAdaptersAndConnectivity) {
  Sandbox sandbox({{'C', ""}},
                  "\"windows\": {\"major\": 6, \"minor\": 1, \"build\": 7601, \"is64Bit\": false},\n"
                  "  \"adapters\": [\"00-1A-2B-3C-4D-5E\", \"00:00:00:00:00:00\", \"0102\"],\n"
                  "  \"connected\": false");
  ProfileScope scope(sandbox);
  auto real = platform::realWindowsVersion();
  EXPECT_EQ(real.build, 7601u);
  auto reported = platform::reportedWindowsVersion();
  EXPECT_EQ(reported.major, 6u);
  EXPECT_EQ(reported.minor, 1u) << "Windows 7 reports itself";
  EXPECT_FALSE(platform::is64BitWindows());
  EXPECT_FALSE(platform::isConnected());
  auto adapters = platform::adapterAddresses();
  ASSERT_EQ(adapters.size(), 3u);
  EXPECT_EQ(adapters[0], (std::array<std::uint8_t, 8>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0, 0}));
  EXPECT_EQ(adapters[1], (std::array<std::uint8_t, 8>{}));
  EXPECT_EQ(adapters[2], (std::array<std::uint8_t, 8>{0x01, 0x02, 0, 0, 0, 0, 0, 0}));

  sandbox.rewriteProfile("\"windows\": {\"build\": 22631}, \"connected\": true, \"adapters\": []");
  sandbox.installInProcess();
  EXPECT_EQ(platform::realWindowsVersion().major, 10u);
  EXPECT_EQ(platform::realWindowsVersion().build, 22631u);
  EXPECT_TRUE(platform::isConnected());
  EXPECT_TRUE(platform::adapterAddresses().empty());
}

// The same devices the kernel lists in /sys/class/net, loopback left out.
TEST(OsFacts, RealAdaptersAreTheNonLoopbackDevices) {
  platform::installMachineProfile({});
  std::multiset<std::array<std::uint8_t, 8>> expected;
  for (const auto& dev : std::filesystem::directory_iterator("/sys/class/net")) {
    std::string flags = vireo::testing::readHostFile(dev.path().string() + "/flags");
    if (flags.empty() || (std::stoul(flags, nullptr, 16) & 0x8)) continue;  // IFF_LOOPBACK
    std::string text = vireo::testing::readHostFile(dev.path().string() + "/address");
    std::array<std::uint8_t, 8> a{};
    size_t k = 0;
    for (size_t i = 0; i + 1 < text.size() && k < a.size(); i += 3) {
      a[k++] = static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16));
    }
    expected.insert(a);
  }
  auto adapters = platform::adapterAddresses();
  using Addresses = std::multiset<std::array<std::uint8_t, 8>>;
  EXPECT_EQ(Addresses(adapters.begin(), adapters.end()), expected);
}

TEST(OsFacts, GuidsAreRandomVersion4) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    platform::Guid g;
    ASSERT_TRUE(platform::createGuid(g));
    EXPECT_EQ(g.data3 >> 12, 4u);
    EXPECT_EQ(g.data4[0] >> 6, 2u);
    seen.insert(std::string(reinterpret_cast<const char*>(&g), sizeof g));
  }
  EXPECT_EQ(seen.size(), 200u);
}

}  // namespace
