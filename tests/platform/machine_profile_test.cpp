#include <gtest/gtest.h>

#include <random>

#include "platform/machine_profile.h"
#include "probe_support.h"

namespace {

using platform::MachineProfile;
using vireo::testing::readHostFile;
using vireo::testing::runShell;
using vireo::testing::Sandbox;
using vireo::testing::writeHostFile;

bool parse(const std::string& text, MachineProfile& p, std::string& error) {
  return platform::parseMachineProfile(text, "/sandbox/profile.json", p, error);
}

TEST(MachineProfile, ReadsEveryKey) {
  const std::string text = R"({
    "drives": [{"letter": "d:", "root": "drive-d/", "freeMiB": 20000.5, "ssd": true,
                "hotplug": false, "fs": "FAT32", "fixed": false},
               {"letter": "C", "root": "/abs/c"}],
    "appData": "C:\\Users\\t\\AppData\\Roaming", "desktop": "C:\\Users\\t\\Desktop",
    "windowsDir": "C:\\Windows", "registry": "reg",
    "windows": {"major": 6, "minor": 1, "build": 7601, "is64Bit": false},
    "ansiCodePage": 1252, "connected": false,
    "adapters": ["00-1A-2B-3C-4D-5E", "000a0b0c0d0e", "01:02:03:04:05:06:07:08"],
    "namespace": "t-1.x", "services": {"cdn": "https://127.0.0.1:8443/", "api": "http://127.0.0.1:1",
    "analytics": "http://127.0.0.1:2", "web": "http://127.0.0.1:3"},
    "trustedCA": "ca.pem", "publisherCA": "/abs/pub.pem", "timeScale": 0.01,
    "timeouts": {"installerWait": 1500}
  })";
  MachineProfile p;
  std::string error;
  ASSERT_TRUE(parse(text, p, error)) << error;
  EXPECT_TRUE(p.active());
  EXPECT_EQ(p.folder, "/sandbox");
  ASSERT_EQ(p.drives->size(), 2u);
  const auto& d = (*p.drives)[0];
  EXPECT_EQ(d.letter, L'D');
  EXPECT_EQ(d.root, "/sandbox/drive-d");
  EXPECT_DOUBLE_EQ(*d.freeMiB, 20000.5);
  EXPECT_TRUE(*d.ssd);
  EXPECT_FALSE(*d.hotplug);
  EXPECT_EQ(*d.fs, "FAT32");
  EXPECT_FALSE(*d.fixed);
  EXPECT_EQ((*p.drives)[1].root, "/abs/c");
  EXPECT_FALSE((*p.drives)[1].freeMiB.has_value());
  EXPECT_EQ(*p.appData, L"C:\\Users\\t\\AppData\\Roaming");
  EXPECT_EQ(*p.desktop, L"C:\\Users\\t\\Desktop");
  EXPECT_EQ(*p.windowsDir, L"C:\\Windows");
  EXPECT_EQ(*p.registry, "/sandbox/reg");
  EXPECT_EQ(*p.windows.major, 6u);
  EXPECT_EQ(*p.windows.minor, 1u);
  EXPECT_EQ(*p.windows.build, 7601u);
  EXPECT_FALSE(*p.windows.is64Bit);
  EXPECT_EQ(*p.ansiCodePage, 1252u);
  EXPECT_FALSE(*p.connected);
  ASSERT_EQ(p.adapters->size(), 3u);
  EXPECT_EQ((*p.adapters)[0], (std::vector<std::uint8_t>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
  EXPECT_EQ((*p.adapters)[1], (std::vector<std::uint8_t>{0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}));
  EXPECT_EQ((*p.adapters)[2].size(), 8u);
  EXPECT_EQ(*p.ns, "t-1.x");
  EXPECT_EQ(*p.services.cdn, "https://127.0.0.1:8443");
  EXPECT_EQ(*p.services.web, "http://127.0.0.1:3");
  EXPECT_EQ(*p.trustedCA, "/sandbox/ca.pem");
  EXPECT_EQ(*p.publisherCA, "/abs/pub.pem");
  EXPECT_DOUBLE_EQ(*p.timeScale, 0.01);
}

TEST(MachineProfile, WaitsComeFromNamedTimeoutsThenTheScale) {
  MachineProfile p;
  std::string error;
  ASSERT_TRUE(parse(R"({"timeScale": 0.001, "timeouts": {"installerWait": 1500}})", p, error));
  platform::installMachineProfile(p);
  EXPECT_EQ(platform::scaledWaitMs("installerWait", 180000), 1500u);
  EXPECT_EQ(platform::scaledWaitMs("reporterWake", 300000), 300u);
  EXPECT_EQ(platform::scaledWaitMs("exitPause", 100), 1u);  // never 0: a wait stays a wait
  platform::installMachineProfile({});
  EXPECT_EQ(platform::scaledWaitMs("installerWait", 180000), 180000u);
}

TEST(MachineProfile, RefusesWithAMessageNamingTheKey) {
  struct Case {
    const char* text;
    const char* inMessage;
  } cases[] = {
      {R"({"drivez": []})", "\"drivez\": unknown key"},
      {R"({"drives": [{"letter": "CD", "root": "/x"}]})", "drives[0].letter"},
      {R"({"drives": [{"root": "/x"}]})", "drives[0].letter\": is missing"},
      {R"({"drives": [{"letter": "C", "root": "/x"}, {"letter": "c", "root": "/y"}]})",
       "names a drive twice"},
      {R"({"drives": [{"letter": "C", "root": "/x", "size": 1}]})", "drives[0].size"},
      {R"({"drives": [{"letter": "C", "root": "/x", "freeMiB": -1}]})", "must not be negative"},
      {R"({"windows": {"major": "10"}})", "windows.major"},
      {R"({"windows": {"service": 1}})", "windows.service"},
      {R"({"ansiCodePage": 12345})", "ansiCodePage"},
      {R"({"connected": 1})", "connected"},
      {R"({"adapters": ["00-1A-zz"]})", "adapters[0]"},
      {R"({"namespace": "a/b"})", "namespace"},
      {R"({"services": {"cdn": "ftp://x"}})", "services.cdn"},
      {R"({"timeScale": 0})", "timeScale"},
      {R"({"timeouts": {"forever": 1}})", "timeouts.forever"},
      {R"({"registry": "a\u0000b"})", "NUL"},
      {R"({"drives": )", "not valid JSON"},
      {R"([1, 2])", "must be a JSON object"},
  };
  for (const auto& c : cases) {
    MachineProfile p;
    std::string error;
    EXPECT_FALSE(parse(c.text, p, error)) << c.text;
    EXPECT_NE(error.find(c.inMessage), std::string::npos) << c.text << " gave: " << error;
    EXPECT_FALSE(p.active()) << "nothing is half-applied: " << c.text;
  }
}

TEST(MachineProfile, HostileTextNeverCrashes) {
  MachineProfile p;
  std::string error;
  EXPECT_FALSE(parse(std::string(200000, '['), p, error));
  EXPECT_FALSE(parse(std::string("{\"drives\":") + std::string(100000, '[') , p, error));
  std::mt19937 random(7);
  const std::string alphabet = "{}[]\":,0123456789.eE-+truefalsnl \\u\x01\xff";
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    size_t length = random() % 64;
    for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    parse(text, p, error);
    std::string bytes;
    for (size_t i = 0; i < length; ++i) bytes += static_cast<char>(random());
    parse(bytes, p, error);
  }
}

// The program refuses a bad profile at start: exit code 2 and a clear line
// on standard error, before it does anything else.
void expectRefusedAtStart(const std::string& program) {
  Sandbox sandbox;
  struct Case {
    const char* text;
    const char* inMessage;
  } cases[] = {
      {"{\"drives\": [", "not valid JSON"},
      {"{\"mystery\": true}", "\"mystery\": unknown key"},
  };
  for (const auto& c : cases) {
    writeHostFile(sandbox.profilePath(), c.text);
    std::string err = sandbox.folder() + "/stderr.txt";
    int code = runShell("VIREO_PROFILE='" + sandbox.profilePath() + "' '" + program +
                        "' exit 0 >/dev/null 2>'" + err + "' </dev/null");
    EXPECT_EQ(code, 2) << program << " with " << c.text;
    std::string message = readHostFile(err);
    EXPECT_NE(message.find("machine profile"), std::string::npos) << message;
    EXPECT_NE(message.find(c.inMessage), std::string::npos) << message;
  }
  std::string err = sandbox.folder() + "/stderr.txt";
  int code = runShell("VIREO_PROFILE='" + sandbox.folder() + "/missing.json' '" + program +
                      "' exit 0 >/dev/null 2>'" + err + "' </dev/null");
  EXPECT_EQ(code, 2);
  EXPECT_NE(readHostFile(err).find("cannot read"), std::string::npos);
}

TEST(MachineProfile, AProgramRefusesABadProfileWithExitCode2) {
  expectRefusedAtStart(vireo::testing::probeHostPath());
}

TEST(MachineProfile, TheInstallerRefusesABadProfileWithExitCode2) {
  std::string installer = std::string(VIREO_BIN_DIR) + "/vireo-installer";
  if (!vireo::testing::hostFileExists(installer)) GTEST_SKIP() << "installer not built";
  expectRefusedAtStart(installer);
}

}  // namespace
