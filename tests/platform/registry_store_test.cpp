#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "platform/code_pages.h"
#include "platform/processes.h"
#include "platform/registry_store.h"
#include "probe_support.h"

namespace {

namespace reg = platform::registry;
using vireo::testing::ProfileScope;
using vireo::testing::readHostFile;
using vireo::testing::Sandbox;
using vireo::testing::writeHostFile;

constexpr HKEY HKCU = HKEY_CURRENT_USER;
const std::wstring kKey = L"Software\\zk\\varedori";

class RegistryTest : public ::testing::Test {
 protected:
  Sandbox sandbox;
  ProfileScope scope{sandbox};
  std::string file = sandbox.registryHost() + "/HKEY_CURRENT_USER.reg";
};

TEST_F(RegistryTest, LivesInTheProfileFolder) {
  EXPECT_EQ(reg::storeFolder(), sandbox.registryHost());
}

TEST_F(RegistryTest, ValuesOfAnyContentRoundTripExactly) {
  ASSERT_EQ(reg::createKey(HKCU, kKey), ERROR_SUCCESS);
  std::wstring every;
  for (wchar_t c = 0; c < 0x300; ++c) every += c;
  const std::wstring samples[] = {
      L"",
      L"plain",
      L"quote \" backslash \\ and \\\" together",
      L"line\nbreak\r\nand\ttab",
      std::wstring(L"nul\0inside\0", 11),
      L"模拟器 ünï 😀",
      L"\u2028\u2029\uFEFF\x7F\x85",
      std::wstring(1, static_cast<wchar_t>(0xD800)) + L"lone surrogate",
      std::wstring(1, static_cast<wchar_t>(0x7FFFFFFF)),
      L"\"=\"[x]\n[Software]\n\"a\"=\"b\"",
      L"@",
      std::wstring(300000, L'长'),
      every,
  };
  int i = 0;
  for (const auto& value : samples) {
    std::wstring name = L"value" + std::to_wstring(i++);
    ASSERT_EQ(reg::writeValue(HKCU, kKey, name, value), ERROR_SUCCESS);
    std::wstring back;
    ASSERT_EQ(reg::readValue(HKCU, kKey, name, back), ERROR_SUCCESS);
    EXPECT_TRUE(back == value) << "sample " << i - 1;
  }
  // Names are just as free.
  std::wstring oddName = std::wstring(L"n\"a\\m\ne\0", 8);
  ASSERT_EQ(reg::writeValue(HKCU, kKey, oddName, L"v"), ERROR_SUCCESS);
  ASSERT_EQ(reg::writeValue(HKCU, kKey, L"", L"default"), ERROR_SUCCESS);
  std::wstring back;
  EXPECT_EQ(reg::readValue(HKCU, kKey, oddName, back), ERROR_SUCCESS);
  EXPECT_EQ(back, L"v");
  EXPECT_EQ(reg::readValue(HKCU, kKey, L"", back), ERROR_SUCCESS);
  EXPECT_EQ(back, L"default");
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstWriting) {
  ASSERT_EQ(reg::createKey(HKCU, L"Software\\ZK\\Varedori\\"), ERROR_SUCCESS);
  EXPECT_EQ(reg::keyExists(HKCU, L"software\\zk"), ERROR_SUCCESS);
  EXPECT_EQ(reg::keyExists(HKCU, L"SOFTWARE\\zk\\VAREDORI"), ERROR_SUCCESS);
  ASSERT_EQ(reg::writeValue(HKCU, L"software\\zk\\varedori", L"PcIdEx", L"one"), ERROR_SUCCESS);
  ASSERT_EQ(reg::writeValue(HKCU, L"SOFTWARE\\ZK\\VAREDORI", L"pcidex", L"two"), ERROR_SUCCESS);
  ASSERT_EQ(reg::writeValue(HKCU, kKey, L"ÄPFEL", L"x"), ERROR_SUCCESS);
  std::wstring v;
  EXPECT_EQ(reg::readValue(HKCU, kKey, L"PCIDEX", v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"two");
  EXPECT_EQ(reg::readValue(HKCU, kKey, L"äpfel", v), ERROR_SUCCESS);
  std::vector<std::wstring> names;
  EXPECT_EQ(reg::listValues(HKCU, kKey, names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"PcIdEx", L"ÄPFEL"}));
  std::string text = readHostFile(file);
  EXPECT_NE(text.find("[Software\\ZK\\Varedori]"), std::string::npos) << text;
  EXPECT_NE(text.find("\"PcIdEx\"=\"two\""), std::string::npos) << text;
}

TEST_F(RegistryTest, MissingKeysValuesAndBadArguments) {
  std::wstring v = L"untouched";
  EXPECT_EQ(reg::keyExists(HKCU, kKey), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg::readValue(HKCU, kKey, L"pcid", v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg::writeValue(HKCU, kKey, L"pcid", L"x"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(reg::createKey(HKCU, kKey), ERROR_SUCCESS);
  EXPECT_EQ(reg::readValue(HKCU, kKey, L"pcid", v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(v, L"untouched");
  EXPECT_EQ(reg::deleteValue(HKCU, kKey, L"pcid"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(reg::writeValue(HKCU, kKey, L"pcid", L"x"), ERROR_SUCCESS);
  EXPECT_EQ(reg::deleteValue(HKCU, kKey, L"PCID"), ERROR_SUCCESS);
  EXPECT_EQ(reg::readValue(HKCU, kKey, L"pcid", v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg::keyExists(HKEY_LOCAL_MACHINE, kKey), ERROR_FILE_NOT_FOUND) << "roots are apart";
  EXPECT_EQ(reg::createKey(0x80000003u, kKey), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg::createKey(HKCU, L"Software\\bad\nname"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg::createKey(HKCU, std::wstring(256, L'k')), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg::createKey(HKCU, std::wstring(255, L'k')), ERROR_SUCCESS);
}

TEST_F(RegistryTest, DamagedFilesReadAsMissingValuesAndAreKeptAside) {
  writeHostFile(file,
                "garbage before any key\n"
                "[Software\\zk\\varedori]\r\n"
                "\"good\"=\"kept\"\r\n"
                "\"broken=\"no end\n"
                "\"bad escape\"=\"\\q\"\n"
                "\"trailing\"=\"x\" junk\n"
                "[unclosed\n"
                "\"orphan\"=\"lost key\"\n");
  std::wstring v;
  EXPECT_EQ(reg::readValue(HKCU, kKey, L"good", v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"kept");
  for (const wchar_t* name : {L"broken", L"bad escape", L"trailing", L"orphan"}) {
    EXPECT_EQ(reg::readValue(HKCU, kKey, name, v), ERROR_FILE_NOT_FOUND) << name;
  }
  std::string original = readHostFile(file);
  ASSERT_EQ(reg::writeValue(HKCU, kKey, L"new", L"value"), ERROR_SUCCESS);
  EXPECT_EQ(readHostFile(file + ".damaged"), original);
  EXPECT_EQ(reg::readValue(HKCU, kKey, L"good", v), ERROR_SUCCESS);
}

TEST_F(RegistryTest, AnyBytesInTheStoreNeverCrashAReader) {
  std::mt19937 random(11);
  const std::string pieces[] = {"[", "]", "\"", "\\", "=", "@", "\n", "\r", "\\u{", "}",
                                "Software", "zk", "\\0", "\xFF", "\xC3", "\x00"};
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    int n = static_cast<int>(random() % 80);
    for (int i = 0; i < n; ++i) {
      if (random() % 3 == 0) bytes += static_cast<char>(random());
      else bytes += pieces[random() % std::size(pieces)];
    }
    writeHostFile(file, bytes);
    std::wstring v;
    std::vector<std::wstring> names;
    reg::readValue(HKCU, kKey, L"pcid", v);
    reg::listValues(HKCU, L"Software\\zk", names);
    reg::keyExists(HKCU, L"Software");
  }
  writeHostFile(file, "[Software]\n\"a\"=\"\\u{ffffffffff}\"\n\"b\"=\"\\u{110000}\"\n");
  std::wstring v;
  EXPECT_EQ(reg::readValue(HKCU, L"Software", L"a", v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg::readValue(HKCU, L"Software", L"b", v), ERROR_SUCCESS);
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  ASSERT_EQ(reg::createKey(HKCU, kKey), ERROR_SUCCESS);
  std::wstring command =
      vireo::testing::probeCommand(L"regwrite \"Software\\zk\\varedori\" 200 ");
  auto a = platform::Process::start(command + L"alpha");
  auto b = platform::Process::start(command + L"beta");
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->wait(60000), WAIT_OBJECT_0);
  ASSERT_EQ(b->wait(60000), WAIT_OBJECT_0);
  EXPECT_EQ(a->exitCode(), 0u);
  EXPECT_EQ(b->exitCode(), 0u);
  std::vector<std::wstring> names;
  ASSERT_EQ(reg::listValues(HKCU, kKey, names), ERROR_SUCCESS);
  EXPECT_EQ(names.size(), 400u);
  for (const char* tag : {"alpha", "beta"}) {
    for (int i = 0; i < 200; ++i) {
      std::wstring name = platform::utf8ToWide(std::string(tag) + "-" + std::to_string(i));
      std::wstring v;
      ASSERT_EQ(reg::readValue(HKCU, kKey, name, v), ERROR_SUCCESS) << tag << i;
      EXPECT_EQ(v, name + L" value");
    }
  }
  for (const auto& entry : std::filesystem::directory_iterator(sandbox.registryHost())) {
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

}  // namespace
