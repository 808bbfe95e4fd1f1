#include "utility/reg_key.h"

#include <gtest/gtest.h>

#include <string>

#include "log_capture.h"
#include "platform/registry_store.h"
#include "scoped_sandbox.h"

using utility::RegKey;
using utility_tests::LogCapture;
using utility_tests::ScopedSandbox;

namespace {

const char* const kKey = "Software\\zk\\varedori";

class RegKeyTest : public ::testing::Test {
 protected:
  ScopedSandbox sandbox_;
  LogCapture log_;
};

TEST_F(RegKeyTest, NothingWorksWithoutAnOpenKey) {
  RegKey key;
  std::string text = "unchanged";
  EXPECT_EQ(key.RegRead("pcid", text), -1);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(key.RegWrite("pcid", "x"), -1);
  EXPECT_TRUE(log_.has("utility::RegKey::RegRead", L"m_hKey is null, query reg = pcid"));
  EXPECT_TRUE(log_.has("utility::RegKey::RegWrite", L"m_hKey is null, query reg = pcid"));
}

TEST_F(RegKeyTest, OpeningAMissingKeyFailsAndLogsTheSubKey) {
  RegKey key;
  EXPECT_EQ(key.RegRegOpen(HKEY_CURRENT_USER, "Software\\\xD6\xD0\\missing", KEY_READ),
            ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key.isOpen());
  EXPECT_TRUE(log_.has("utility::RegKey::RegRegOpen",
                       L"open reg = Software\\中\\missing, lastError = 2"));
}

TEST_F(RegKeyTest, CreateWriteReopenReadWithAnsiTextAndNamesInAnyCase) {
  {
    RegKey key;
    ASSERT_EQ(key.RegCreate(HKEY_CURRENT_USER, kKey), ERROR_SUCCESS);
    EXPECT_EQ(key.RegWrite("InstallDir", "D:\\\xD3\xCE\xCF\xB7\\Vireo9\\"), ERROR_SUCCESS);
  }
  // Other programs of the family see UTF-16 text in the store.
  std::wstring stored;
  ASSERT_EQ(platform::registry::readValue(HKEY_CURRENT_USER, L"SOFTWARE\\ZK\\VAREDORI",
                                          L"installdir", stored),
            ERROR_SUCCESS);
  EXPECT_EQ(stored, L"D:\\游戏\\Vireo9\\");

  RegKey key;
  ASSERT_EQ(key.RegRegOpen(HKEY_CURRENT_USER, "SOFTWARE\\ZK\\Varedori", KEY_READ), ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(key.RegRead("INSTALLDIR", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "D:\\\xD3\xCE\xCF\xB7\\Vireo9\\");
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(RegKeyTest, AValueCanHoldAnything) {
  RegKey key;
  ASSERT_EQ(key.RegCreate(HKEY_LOCAL_MACHINE, kKey), ERROR_SUCCESS);
  const std::string values[] = {
      "",
      "  spaces kept  ",
      "line one\nline two\r\nthree",
      "[Section]\nkey=value ; not a comment \"quoted\" \\\\server\\share # % $HOME",
      "\t\x01\x1F\x7F",
      std::string(1023, 'm'),  // with its terminator exactly the 1,024-byte buffer
  };
  for (const auto& value : values) {
    ASSERT_EQ(key.RegWrite("anything", value), ERROR_SUCCESS);
    std::string text = "previous";
    EXPECT_EQ(key.RegRead("anything", text), ERROR_SUCCESS);
    EXPECT_EQ(text, value);
  }
  // The ANSI write ends a text at its first zero byte.
  ASSERT_EQ(key.RegWrite("anything", std::string("ab\0cd", 5)), ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(key.RegRead("anything", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "ab");
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(RegKeyTest, ReadingGivesMoreDataForTextsBeyondTheBufferAndAnsiForOthers) {
  RegKey key;
  ASSERT_EQ(key.RegCreate(HKEY_CURRENT_USER, kKey), ERROR_SUCCESS);
  std::string text = "unchanged";
  ASSERT_EQ(key.RegWrite("big", std::string(1024, 'b')), ERROR_SUCCESS);
  EXPECT_EQ(key.RegRead("big", text), ERROR_MORE_DATA);
  EXPECT_EQ(text, "unchanged");
  // 512 Chinese characters are 1,024 GBK bytes: too long as well.
  ASSERT_EQ(platform::registry::writeValue(HKEY_CURRENT_USER, L"Software\\zk\\varedori", L"cn",
                                           std::wstring(512, L'中')),
            ERROR_SUCCESS);
  EXPECT_EQ(key.RegRead("cn", text), ERROR_MORE_DATA);
  EXPECT_EQ(key.RegRead("absent", text), ERROR_FILE_NOT_FOUND);
  auto reads = log_.messages("utility::RegKey::RegRead");
  EXPECT_EQ(reads, (std::vector<std::wstring>{L"read reg lastError = 234",
                                              L"read reg lastError = 234",
                                              L"read reg lastError = 2"}));

  // A value another program wrote: characters GBK lacks read as '?', and a
  // zero character ends the text.
  ASSERT_EQ(platform::registry::writeValue(HKEY_CURRENT_USER, L"Software\\zk\\varedori", L"w",
                                           std::wstring(L"a\u0e01\u4e2d\0tail", 8)),
            ERROR_SUCCESS);
  EXPECT_EQ(key.RegRead("w", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "a?\xD6\xD0");
}

TEST_F(RegKeyTest, TheAccessMaskIsKept) {
  {
    RegKey creator;
    ASSERT_EQ(creator.RegCreate(HKEY_CURRENT_USER, kKey), ERROR_SUCCESS);
    ASSERT_EQ(creator.RegWrite("pcid", "1234"), ERROR_SUCCESS);
  }
  RegKey reader;
  ASSERT_EQ(reader.RegRegOpen(HKEY_CURRENT_USER, kKey, KEY_READ | KEY_WOW64_64KEY),
            ERROR_SUCCESS);
  EXPECT_EQ(reader.RegWrite("pcid", "5678"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(log_.has("utility::RegKey::RegWrite", L"write reg 1 lastError = 5"));
  std::string text;
  EXPECT_EQ(reader.RegRead("pcid", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "1234");

  RegKey writer;
  ASSERT_EQ(writer.RegRegOpen(HKEY_CURRENT_USER, kKey, KEY_WRITE), ERROR_SUCCESS);
  EXPECT_EQ(writer.RegWrite("pcid", "5678"), ERROR_SUCCESS);
  EXPECT_EQ(writer.RegRead("pcid", text), ERROR_ACCESS_DENIED);

  writer.close();
  EXPECT_FALSE(writer.isOpen());
  EXPECT_EQ(writer.RegWrite("pcid", "9"), -1);
}

TEST_F(RegKeyTest, CreatingUnderABadRootFails) {
  RegKey key;
  EXPECT_NE(key.RegCreate(static_cast<HKEY>(0x12345), kKey), ERROR_SUCCESS);
  EXPECT_FALSE(key.isOpen());
  auto messages = log_.messages("utility::RegKey::RegCreate");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind(L"create reg  lastError = ", 0), 0u);
}

}  // namespace
