#include "utility/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/drives.h"
#include "platform/last_error.h"
#include "platform/machine_profile.h"
#include "support/sandbox.h"

namespace {

using utility::ini::writePrivateProfileStringA;
using utility::ini::writePrivateProfileStringW;
using vireo::testing::hostFileExists;
using vireo::testing::readHostFile;
using vireo::testing::writeHostFile;

// "中文" in GBK and in UTF-8.
const std::string kChineseGbk = "\xD6\xD0\xCE\xC4";
const std::string kChineseUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override { sandbox_.installInProcess(); }
  void TearDown() override {
    platform::installMachineProfile(platform::MachineProfile{});
    platform::resetDriveTable();
  }

  std::string hostPath() const { return sandbox_.driveRoot('C') + "/game/data.ini"; }
  const std::wstring path = L"C:\\game\\data.ini";

  void givenFile(const std::string& bytes) const { writeHostFile(hostPath(), bytes); }
  std::string fileBytes() const { return readHostFile(hostPath()); }

  vireo::testing::Sandbox sandbox_;
};

// Hand-made files and what one write of setting/adshow = 0 makes of them.
TEST_F(IniFileTest, WideWriteIntoHandMadeFiles) {
  struct Case {
    const char* what;
    std::string before, after;
  };
  const Case cases[] = {
      {"existing key, other case, in place",
       "[Setting]\r\nAdShow=1\r\nother=x\r\n", "[Setting]\r\nAdShow=0\r\nother=x\r\n"},
      {"spaces around the key are matched, the key's spelling kept",
       "[setting]\r\n  adshow = 1 \r\n", "[setting]\r\n  adshow =0\r\n"},
      {"a file without the section gets it at the end",
       "[other]\r\na=1\r\n", "[other]\r\na=1\r\n[setting]\r\nadshow=0\r\n"},
      {"an unterminated last line is ended first",
       "[other]\r\na=1", "[other]\r\na=1\r\n[setting]\r\nadshow=0\r\n"},
      {"a new key follows the section's last line, blank lines stay",
       "[setting]\r\na=1\r\n\r\n[next]\r\nadshow=1\r\n",
       "[setting]\r\na=1\r\nadshow=0\r\n\r\n[next]\r\nadshow=1\r\n"},
      {"a key of another section is not touched",
       "[a]\r\nadshow=1\r\n[setting]\r\n", "[a]\r\nadshow=1\r\n[setting]\r\nadshow=0\r\n"},
      {"comments and a commented-out key stay",
       "; made by hand\r\n[setting]\r\n;adshow=1\r\nadshow=1\r\n",
       "; made by hand\r\n[setting]\r\n;adshow=1\r\nadshow=0\r\n"},
      {"LF files get LF lines", "[setting]\na=1\n", "[setting]\na=1\nadshow=0\n"},
      {"an unterminated key line in the section", "[setting]\r\na=1",
       "[setting]\r\na=1\r\nadshow=0\r\n"},
      {"the first of two sections of the same name",
       "[setting]\r\na=1\r\n[setting]\r\nadshow=1\r\n",
       "[setting]\r\na=1\r\nadshow=0\r\n[setting]\r\nadshow=1\r\n"},
      {"an empty file", "", "[setting]\r\nadshow=0\r\n"},
      {"a UTF-8 mark is kept and skipped", "\xEF\xBB\xBF[setting]\r\nadshow=1\r\n",
       "\xEF\xBB\xBF[setting]\r\nadshow=0\r\n"},
  };
  for (const auto& c : cases) {
    givenFile(c.before);
    ASSERT_TRUE(writePrivateProfileStringW(L"setting", L"adshow", L"0", path)) << c.what;
    EXPECT_EQ(fileBytes(), c.after) << c.what;
  }
}

TEST_F(IniFileTest, MissingFileIsCreatedAndKeysFollowInOrder) {
  ASSERT_FALSE(hostFileExists(hostPath()));
  std::filesystem::create_directories(sandbox_.driveRoot('C') + "/game");
  ASSERT_TRUE(writePrivateProfileStringW(L"setting", L"adshow", L"0", path));
  ASSERT_TRUE(writePrivateProfileStringW(L"setting", L"cleanmodel", L"1", path));
  ASSERT_TRUE(writePrivateProfileStringW(L"SETTING", L"ADSHOW", L"1", path));
  EXPECT_EQ(fileBytes(), "[setting]\r\nadshow=1\r\ncleanmodel=1\r\n");
}

TEST_F(IniFileTest, MissingFolderFails) {
  EXPECT_FALSE(writePrivateProfileStringW(L"setting", L"a", L"1", L"C:\\nowhere\\data.ini"));
  EXPECT_FALSE(hostFileExists(sandbox_.driveRoot('C') + "/nowhere"));
}

// The single-byte interface writes its bytes; the wide one the ANSI code page.
TEST_F(IniFileTest, EncodingsOfAnAnsiFile) {
  givenFile("[setting]\r\n");
  ASSERT_TRUE(writePrivateProfileStringA("setting", "title", kChineseUtf8, path));
  ASSERT_TRUE(writePrivateProfileStringW(L"setting", L"name", L"中文", path));
  ASSERT_TRUE(writePrivateProfileStringW(L"setting", L"emoji", L"a\U0001F600b", path));
  EXPECT_EQ(fileBytes(), "[setting]\r\ntitle=" + kChineseUtf8 + "\r\nname=" + kChineseGbk +
                             "\r\nemoji=a?b\r\n");
  // Writing bytes again over bytes that are no valid GBK keeps them exactly.
  ASSERT_TRUE(writePrivateProfileStringA("setting", "title", "\xFF\x80" + kChineseUtf8, path));
  EXPECT_NE(fileBytes().find("title=\xFF\x80" + kChineseUtf8 + "\r\n"), std::string::npos);
}

TEST_F(IniFileTest, Utf16FileStaysUtf16) {
  auto utf16 = [](const std::u16string& text) {
    std::string bytes;
    for (char16_t u : text) {
      bytes.push_back(static_cast<char>(u & 0xFF));
      bytes.push_back(static_cast<char>(u >> 8));
    }
    return bytes;
  };
  givenFile("\xFF\xFE" + utf16(u"[Setting]\r\nTitle=old\r\n"));
  ASSERT_TRUE(writePrivateProfileStringW(L"setting", L"title", L"中文\U0001F600", path));
  ASSERT_TRUE(writePrivateProfileStringA("setting", "name", kChineseGbk, path));
  EXPECT_EQ(fileBytes(),
            "\xFF\xFE" + utf16(u"[Setting]\r\nTitle=中文\U0001F600\r\nname=中文\r\n"));
}

TEST_F(IniFileTest, ValuesCannotAddLinesAndBadNamesAreRefused) {
  givenFile("[setting]\r\nadshow=0\r\n");
  ASSERT_TRUE(
      writePrivateProfileStringW(L"setting", L"title", L"x\r\n[setting]\r\nadshow=1", path));
  ASSERT_TRUE(writePrivateProfileStringA("setting", "runapp", std::string("a\0b", 3), path));
  EXPECT_EQ(fileBytes(), "[setting]\r\nadshow=0\r\ntitle=x\r\nrunapp=a\r\n");

  const std::string before = fileBytes();
  const std::pair<const wchar_t*, const wchar_t*> refused[] = {
      {L"setting", L""}, {L"setting", L"a=b"}, {L"setting", L"a\nb"},
      {L"setting", L"[x"}, {L"set]ting", L"a"}, {L"", L"a"}, {L"a\r\nb", L"a"},
  };
  for (const auto& [section, key] : refused) {
    EXPECT_FALSE(writePrivateProfileStringW(section, key, L"1", path)) << key;
    EXPECT_EQ(platform::getLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(fileBytes(), before);
}

// Read-modify-write from many threads at once never loses a key.
TEST_F(IniFileTest, ConcurrentWritersLoseNothing) {
  givenFile("");
  constexpr int kThreads = 4, kKeys = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < kKeys; ++k) {
        const std::wstring key = L"k" + std::to_wstring(t) + L"_" + std::to_wstring(k);
        EXPECT_TRUE(writePrivateProfileStringW(L"setting", key, L"v", path));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string bytes = fileBytes();
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kKeys; ++k) {
      std::string line = "k";
      line += std::to_string(t) + "_" + std::to_string(k) + "=v\r\n";
      EXPECT_NE(bytes.find(line), std::string::npos) << line;
    }
  }
}

}  // namespace
