// The shortcut reader (utility::usystem::resolveShortcutFromFile) on link
// files from a small generator of our own, and on what the platform's
// shell-link writer produces.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "log_capture.h"
#include "platform/desktop_entry.h"
#include "platform/shell_link.h"
#include "scoped_sandbox.h"
#include "utility/usystem.h"

using utility::usystem::resolveShortcutFromFile;
using utility_tests::LogCapture;
using utility_tests::ScopedSandbox;
using vireo::testing::readHostFile;
using vireo::testing::writeHostFile;

namespace {

constexpr long kNotFound = 87;

void put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t get32(const std::string& s, size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s.at(at + i));
  return v;
}
std::uint16_t get16(const std::string& s, size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(s.at(at)) |
                                    static_cast<unsigned char>(s.at(at + 1)) << 8);
}

// What a fixture link file holds; every field can lie.
struct LinkFixture {
  std::uint32_t headerSize = 76;
  std::optional<std::string> idList;           // HasLinkTargetIDList and its bytes
  std::optional<std::uint16_t> idListSize;     // a lying size of the ID list
  std::optional<std::uint32_t> basePathOffset; // from the start of the link information
  std::string basePath = "D:\\Vireo\\varedori.exe";
  bool terminated = true;

  std::string bytes() const {
    std::string out;
    put32(out, headerSize);
    out += std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    put32(out, (idList ? 0x1u : 0u) | 0x2u);
    out.append(76 - out.size(), '\0');
    if (idList) {
      put16(out, idListSize.value_or(static_cast<std::uint16_t>(idList->size())));
      out += *idList;
    }
    // LinkInfo: size, header size 0x1C, VolumeIDAndLocalBasePath, offsets, VolumeID.
    const std::uint32_t volumeId = 0x1C, localBasePath = volumeId + 17;
    const auto size = static_cast<std::uint32_t>(localBasePath + basePath.size() + 2);
    put32(out, size);
    put32(out, 0x1C);
    put32(out, 1);
    put32(out, volumeId);
    put32(out, basePathOffset.value_or(localBasePath));
    put32(out, 0);
    put32(out, static_cast<std::uint32_t>(localBasePath + basePath.size() + 1));
    put32(out, 17);
    put32(out, 3);
    put32(out, 0x12345678);
    put32(out, 0x10);
    out += '\0';
    out += basePath;
    if (terminated) out += std::string(2, '\0');
    return out;
  }
};

class ShortcutReader : public ::testing::Test {
 protected:
  // Writes the file on the desktop and resolves it.
  long resolve(const std::string& name, const std::string& bytes, std::wstring& target) {
    writeHostFile(sandbox_.desktopHost() + "/" + name, bytes);
    std::wstring path = L"C:\\Users\\tester\\Desktop\\" + std::wstring(name.begin(), name.end());
    return resolveShortcutFromFile(path, target);
  }
  long resolve(const std::string& name, const LinkFixture& fixture, std::wstring& target) {
    return resolve(name, fixture.bytes(), target);
  }

  ScopedSandbox sandbox_;
};

TEST_F(ShortcutReader, ValidLinksWithAndWithoutAnIdList) {
  LinkFixture plain;
  LinkFixture withIdList;
  withIdList.idList = std::string(58, '\x7F');
  LinkFixture chinese;
  chinese.basePath = "D:\\\xD3\xCE\xCF\xB7\\varedori.exe";  // 游戏 in GBK

  struct Case {
    const char* name;
    LinkFixture fixture;
    std::wstring target;
  };
  const Case cases[] = {
      {"plain.lnk", plain, L"D:\\Vireo\\varedori.exe"},
      {"idlist.lnk", withIdList, L"D:\\Vireo\\varedori.exe"},
      {"a.LNK", plain, L"D:\\Vireo\\varedori.exe"},  // the extension test ignores case
      {"cn.lnk", chinese, L"D:\\游戏\\varedori.exe"},
  };
  for (const auto& c : cases) {
    std::wstring target;
    EXPECT_EQ(resolve(c.name, c.fixture, target), 0) << c.name;
    EXPECT_EQ(target, c.target) << c.name;
  }
}

TEST_F(ShortcutReader, PathsThatAreNotShortcutsFailAtOnce) {
  const wchar_t* paths[] = {L"a.txt", L"x.lk", L".lnk", L"C:\\dir.lnk\\file", L""};
  for (const wchar_t* path : paths) {
    std::wstring target = L"unchanged";
    EXPECT_EQ(resolveShortcutFromFile(path, target), E_FAIL) << path;
    EXPECT_EQ(target, L"unchanged");
  }
  // Even a valid link file behind a wrong name is not read.
  std::wstring target;
  EXPECT_EQ(resolve("link.txt", LinkFixture{}, target), E_FAIL);
}

TEST_F(ShortcutReader, HostileFilesGiveInvalidParameterWithoutReadingBeyondThem) {
  LinkFixture wrongHeader;
  wrongHeader.headerSize = 75;
  LinkFixture beforeStart;
  beforeStart.basePathOffset = 0xFFFFFF00u;  // a move of -276 bytes
  LinkFixture pastEnd;
  pastEnd.basePathOffset = 0x7FFFFFF0u;
  LinkFixture idListPastEnd;
  idListPastEnd.idList = "abc";
  idListPastEnd.idListSize = 0xFFFF;
  LinkFixture unterminated;
  unterminated.terminated = false;

  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty.lnk", ""},
      {"short.lnk", std::string("\x4C\x00\x00\x00\x01\x14", 6)},
      {"header-only.lnk", LinkFixture{}.bytes().substr(0, 76)},
      {"wrong-header.lnk", wrongHeader.bytes()},
      {"before-start.lnk", beforeStart.bytes()},
      {"past-end.lnk", pastEnd.bytes()},
      {"idlist-past-end.lnk", idListPastEnd.bytes()},
      {"unterminated.lnk", unterminated.bytes()},
  };
  for (const auto& c : cases) {
    std::wstring target = L"unchanged";
    EXPECT_EQ(resolve(c.name, c.bytes, target), kNotFound) << c.name;
    EXPECT_EQ(target, L"unchanged") << c.name;
  }
  std::wstring target;
  EXPECT_EQ(resolveShortcutFromFile(L"C:\\Users\\tester\\Desktop\\missing.lnk", target), kNotFound);
  EXPECT_EQ(resolveShortcutFromFile(L"C:\\Users\\tester\\Desktop", target), E_FAIL);
}

TEST_F(ShortcutReader, APathOf516BytesWithoutTerminatorIsTooLong) {
  LogCapture log;
  LinkFixture longest;
  longest.basePath = "C:\\" + std::string(512, 'p');  // 515 bytes and the terminator
  LinkFixture tooLong;
  tooLong.basePath = "C:\\" + std::string(513, 'p');  // 516 bytes before the terminator

  std::wstring target;
  EXPECT_EQ(resolve("longest.lnk", longest, target), 0);
  EXPECT_EQ(target.size(), 515u);
  EXPECT_TRUE(log.lines().empty());

  target = L"unchanged";
  EXPECT_EQ(resolve("toolong.lnk", tooLong, target), 0);  // success with an empty target
  EXPECT_EQ(target, L"");
  EXPECT_TRUE(log.has("utility::usystem::resolveShortcutFromFile",
                      L"resolveShortcutFromFile buffer is too small"));
}

// Reads the pieces of a written link back by the [MS-SHLLINK] layout.
struct ParsedLink {
  std::uint32_t flags = 0;
  std::string ansiPath;
  std::u16string unicodePath;
  std::vector<std::u16string> strings;  // working dir, arguments, icon (those present)
  std::uint32_t iconIndex = 0;
  bool terminalBlock = false;
};

std::u16string utf16At(const std::string& s, size_t at, size_t units) {
  std::u16string out;
  for (size_t i = 0; i < units; ++i) out += static_cast<char16_t>(get16(s, at + 2 * i));
  return out;
}

ParsedLink parse(const std::string& s) {
  ParsedLink p;
  p.flags = get32(s, 20);
  p.iconIndex = get32(s, 56);
  size_t info = 76;
  std::uint32_t infoSize = get32(s, info);
  std::uint32_t infoHeader = get32(s, info + 4);
  std::uint32_t local = get32(s, info + 16);
  p.ansiPath = std::string(s.c_str() + info + local);
  if (infoHeader >= 0x24) {
    size_t at = info + get32(s, info + 28);
    while (get16(s, at) != 0) {
      p.unicodePath += static_cast<char16_t>(get16(s, at));
      at += 2;
    }
  }
  size_t at = info + infoSize;
  for (std::uint32_t bit : {0x10u, 0x20u, 0x40u}) {
    if (!(p.flags & bit)) continue;
    std::uint16_t count = get16(s, at);
    p.strings.push_back(utf16At(s, at + 2, count));
    at += 2 + 2u * count;
  }
  p.terminalBlock = at + 4 == s.size() && get32(s, at) == 0;
  return p;
}

class ShortcutWriter : public ::testing::Test {
 protected:
  std::string hostLink(const char* name) const { return sandbox_.desktopHost() + "/" + name; }
  ScopedSandbox sandbox_{{{'C', ""}, {'D', ""}}};
};

TEST_F(ShortcutWriter, TheReaderFindsTheTargetThatTheWriterStored) {
  writeHostFile(sandbox_.driveRoot('D') + "/游戏/varedori.exe", "program");
  platform::ShellLink link;
  link.target = L"D:\\游戏\\varedori.exe";
  link.arguments = L"package=com.example.game";
  link.workingDir = L"D:\\游戏";
  link.iconPath = L"D:\\游戏\\icon.ico";
  ASSERT_TRUE(platform::writeShellLink(L"C:\\Users\\tester\\Desktop\\Vireo.lnk", link));

  std::wstring target;
  EXPECT_EQ(resolveShortcutFromFile(L"C:\\Users\\tester\\Desktop\\Vireo.lnk", target), 0);
  EXPECT_EQ(target, link.target);

  std::string bytes = readHostFile(hostLink("Vireo.lnk"));
  EXPECT_EQ(bytes.substr(0, 20),
            std::string("\x4C\0\0\0\x01\x14\x02\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 20));
  ParsedLink parsed = parse(bytes);
  EXPECT_EQ(parsed.flags, 0x2u | 0x10u | 0x20u | 0x40u | 0x80u);
  EXPECT_EQ(get32(bytes, 52), 7u);  // the target's size
  EXPECT_EQ(parsed.ansiPath, "D:\\\xD3\xCE\xCF\xB7\\varedori.exe");
  EXPECT_EQ(parsed.unicodePath, u"D:\\游戏\\varedori.exe");
  ASSERT_EQ(parsed.strings.size(), 3u);
  EXPECT_EQ(parsed.strings[0], u"D:\\游戏");
  EXPECT_EQ(parsed.strings[1], u"package=com.example.game");
  EXPECT_EQ(parsed.strings[2], u"D:\\游戏\\icon.ico");
  EXPECT_TRUE(parsed.terminalBlock);
}

TEST_F(ShortcutWriter, EmptyFieldsAreLeftOutAndCharactersBeyondTheBmpArePairs) {
  platform::ShellLink link;
  link.target = L"D:\\a\U0001F600\\run.exe";
  link.iconIndex = 3;
  ASSERT_TRUE(platform::writeShellLink(L"C:\\Users\\tester\\Desktop\\Plain.lnk", link));
  ParsedLink parsed = parse(readHostFile(hostLink("Plain.lnk")));
  EXPECT_EQ(parsed.flags, 0x2u | 0x80u);
  EXPECT_TRUE(parsed.strings.empty());
  EXPECT_EQ(parsed.iconIndex, 3u);
  EXPECT_EQ(parsed.unicodePath, u"D:\\a\U0001F600\\run.exe");
  EXPECT_EQ(parsed.ansiPath, "D:\\a?\\run.exe");  // GBK has no such character
  EXPECT_TRUE(parsed.terminalBlock);
}

TEST_F(ShortcutWriter, ReplacesAtomicallyAndRefusesWhatItCannotWrite) {
  platform::ShellLink first;
  first.target = L"D:\\first.exe";
  platform::ShellLink second;
  second.target = L"D:\\second.exe";
  const wchar_t* path = L"C:\\Users\\tester\\Desktop\\Same.lnk";
  ASSERT_TRUE(platform::writeShellLink(path, first));
  ASSERT_TRUE(platform::writeShellLink(path, second));
  std::wstring target;
  EXPECT_EQ(resolveShortcutFromFile(path, target), 0);
  EXPECT_EQ(target, L"D:\\second.exe");
  std::set<std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(sandbox_.desktopHost())) {
    entries.insert(e.path().filename().string());
  }
  EXPECT_EQ(entries, (std::set<std::string>{"Same.desktop", "Same.lnk"}));  // no temporaries

  EXPECT_FALSE(platform::writeShellLink(L"C:\\Users\\tester\\Missing\\x.lnk", second));
  EXPECT_FALSE(platform::writeShellLink(L"C:\\Users\\tester\\Desktop\\y.lnk", {}));
  platform::ShellLink huge = second;
  huge.arguments = std::wstring(70000, L'a');
  EXPECT_FALSE(platform::writeShellLink(L"C:\\Users\\tester\\Desktop\\z.lnk", huge));
  EXPECT_FALSE(vireo::testing::hostFileExists(hostLink("z.lnk")));
}

TEST_F(ShortcutWriter, ALinkOnTheDesktopGetsALauncherBesideIt) {
  platform::ShellLink link;
  link.target = L"D:\\游戏\\varedori.exe";
  link.arguments = L"package=com.example.game \"two words\" 100% a\\\"b";
  link.workingDir = L"D:\\游戏";
  link.iconPath = L"D:\\游戏\\icon.ico";
  ASSERT_TRUE(platform::writeShellLink(L"C:\\Users\\tester\\Desktop\\Vireo 9.lnk", link));

  std::string d = sandbox_.driveRoot('D');
  std::string entry = readHostFile(sandbox_.desktopHost() + "/Vireo 9.desktop");
  EXPECT_EQ(entry,
            "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Vireo 9\n"
            "Exec=\"" + d + "/游戏/varedori.exe\" \"package=com.example.game\" \"two words\" "
            "\"100%%\" \"a\\\\\"b\"\n"
            "Path=" + d + "/游戏\nIcon=" + d + "/游戏/icon.ico\nTerminal=false\n");
  EXPECT_EQ(std::filesystem::status(sandbox_.desktopHost() + "/Vireo 9.desktop").permissions() &
                std::filesystem::perms::owner_exec,
            std::filesystem::perms::owner_exec);

  // Elsewhere only the link is written.
  ASSERT_TRUE(platform::writeShellLink(L"C:\\Users\\tester\\Vireo.lnk", link));
  EXPECT_FALSE(vireo::testing::hostFileExists(sandbox_.driveRoot('C') + "/Users/tester/Vireo.desktop"));
  // A target on no drive of this machine gets no launcher.
  platform::ShellLink nowhere;
  nowhere.target = L"Q:\\x.exe";
  EXPECT_EQ(platform::desktopEntryText(L"x", nowhere), "");
}

}  // namespace
