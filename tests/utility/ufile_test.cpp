#include "utility/ufile.h"

#include <gtest/gtest.h>

#include <string>

#include "log_capture.h"
#include "platform/known_folders.h"
#include "platform/last_error.h"
#include "scoped_sandbox.h"

namespace uf = utility::ufile;
using utility_tests::LogCapture;
using utility_tests::ScopedSandbox;
using vireo::testing::hostFileExists;
using vireo::testing::readHostFile;
using vireo::testing::writeHostFile;

namespace {

TEST(UfilePaths, GetParentDir) {
  struct Case {
    const wchar_t* path;
    const wchar_t* parent;
  };
  const Case cases[] = {
      {L"C:\\a\\b.exe", L"C:\\a\\"},
      {L"C:\\a\\", L"C:\\"},
      {L"C:\\", L""},  // only the drive is left: no separator before it
      {L"b.exe", L""},
      {L"", L""},
      {L"\\", L""},
      {L"/x/y", L"/x/"},
      {L"C:\\a/b", L"C:\\"},  // the last backslash wins over a later slash
      {L"C:\\a\\\\", L"C:\\a\\"},  // only one trailing separator is dropped
  };
  for (const auto& c : cases) EXPECT_EQ(uf::getParentDir(c.path), c.parent) << c.path;
}

TEST(UfilePaths, GetFileNameAndExtension) {
  struct Case {
    const wchar_t* path;
    const wchar_t* withExtension;
    const wchar_t* withoutExtension;
    const wchar_t* extension;
  };
  const Case cases[] = {
      {L"C:\\a\\setup.exe", L"setup.exe", L"setup", L".exe"},
      {L"C:\\a\\pkg.tar.gz", L"pkg.tar.gz", L"pkg.tar", L".gz"},
      {L"C:/a/b/readme", L"readme", L"readme", L""},
      {L"C:\\a\\", L"", L"", L""},
      {L"bare.txt", L"", L"", L".txt"},  // no separator: no file name
      {L"C:\\v1.2\\run", L"run", L"run", L".2\\run"},  // the last dot, wherever it is
      {L"C:\\a/b\\c.d", L"c.d", L"c", L".d"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(uf::getFileName(c.path, true), c.withExtension) << c.path;
    EXPECT_EQ(uf::getFileName(c.path, false), c.withoutExtension) << c.path;
    EXPECT_EQ(uf::getExtension(c.path), c.extension) << c.path;
  }
}

TEST(UfileFolders, ModuleAndAppData) {
  ScopedSandbox sandbox;
  std::wstring module = uf::getModulePath();
  EXPECT_EQ(module, platform::modulePath().substr(0, 259));
  EXPECT_LE(module.size(), 259u);
  EXPECT_EQ(uf::getModuleDir(), uf::getParentDir(module));
  EXPECT_EQ(uf::getModuleDir().back(), L'\\');
  EXPECT_EQ(uf::getAppDataDir(), L"C:\\Users\\tester\\AppData\\Roaming");
}

TEST(UfileFolders, AppDataWithoutTrailingSeparator) {
  ScopedSandbox sandbox("\"appData\": \"C:\\\\Data\\\\\"");
  EXPECT_EQ(uf::getAppDataDir(), L"C:\\Data");
}

TEST(UfileOperations, MakeDirCreatesEveryLevelAndAcceptsAnExistingFolder) {
  ScopedSandbox sandbox;
  LogCapture log;
  EXPECT_TRUE(uf::makeDir(L"C:\\one\\two\\three"));
  EXPECT_TRUE(uf::isExist(L"C:\\one\\two\\three"));
  EXPECT_TRUE(uf::makeDir(L"C:\\one\\two\\three"));
  EXPECT_TRUE(log.lines().empty());

  writeHostFile(sandbox.driveRoot('C') + "/plain", "x");
  EXPECT_FALSE(uf::makeDir(L"C:\\plain"));  // a file is in the way
  EXPECT_FALSE(uf::makeDir(L"C:\\plain\\below"));
  EXPECT_FALSE(uf::makeDir(L"Q:\\unknown\\drive"));
  auto messages = log.messages("utility::ufile::makeDir");
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[2], L"make dir failed! error = 3.");
}

TEST(UfileOperations, MoveAndRemoveLogTheirFailures) {
  ScopedSandbox sandbox;
  LogCapture log;
  std::string c = sandbox.driveRoot('C');
  writeHostFile(c + "/from.bin", "payload");
  writeHostFile(c + "/taken.bin", "old");

  EXPECT_FALSE(uf::moveFile(L"C:\\from.bin", L"C:\\taken.bin", 0));
  EXPECT_EQ(readHostFile(c + "/taken.bin"), "old");
  EXPECT_TRUE(uf::moveFile(L"C:\\from.bin", L"C:\\taken.bin", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(readHostFile(c + "/taken.bin"), "payload");
  EXPECT_FALSE(hostFileExists(c + "/from.bin"));
  EXPECT_TRUE(log.has("utility::ufile::moveFile",
                      L"move file from [ C:\\from.bin ] to [ C:\\taken.bin ] flag = 0 failed! "
                      L"error = 183."));

  EXPECT_TRUE(uf::removeFile(L"C:\\taken.bin"));
  EXPECT_FALSE(uf::removeFile(L"C:\\taken.bin"));
  EXPECT_TRUE(log.has("utility::ufile::removeFile",
                      L"removeFile file from [ C:\\taken.bin ] error = 2."));
}

TEST(UfileOperations, FileSize) {
  ScopedSandbox sandbox;
  writeHostFile(sandbox.driveRoot('C') + "/five", "12345");
  std::uint64_t size = 99;
  EXPECT_TRUE(uf::getFileSize(L"C:\\five", size));
  EXPECT_EQ(size, 5u);
  EXPECT_FALSE(uf::getFileSize(L"C:\\missing", size));
}

TEST(UfileObjects, FileCreateWriteReopenAppendRead) {
  ScopedSandbox sandbox;
  uf::File file;
  EXPECT_FALSE(file.openRead(L"C:\\data.bin"));
  EXPECT_FALSE(file.openReadWrite(L"C:\\data.bin", false));
  ASSERT_TRUE(file.openReadWrite(L"C:\\data.bin", true));  // OPEN_ALWAYS creates it
  EXPECT_TRUE(file.write("abc", 3));
  file.close();
  EXPECT_FALSE(file.isOpen());

  ASSERT_TRUE(file.openReadWrite(L"C:\\data.bin", false));
  EXPECT_TRUE(file.seekToEnd());
  EXPECT_TRUE(file.write("def", 3));
  file.close();

  ASSERT_TRUE(file.openRead(L"C:\\data.bin"));
  char buffer[16] = {};
  EXPECT_EQ(file.read(buffer, sizeof buffer), 6u);
  EXPECT_EQ(std::string(buffer, 6), "abcdef");
  EXPECT_EQ(file.read(buffer, sizeof buffer), 0u);
  EXPECT_FALSE(file.write("x", 1));  // opened for reading only
  file.close();

  ASSERT_TRUE(file.create(L"C:\\data.bin"));  // CREATE_ALWAYS empties it
  file.close();
  EXPECT_EQ(readHostFile(sandbox.driveRoot('C') + "/data.bin"), "");
  EXPECT_EQ(file.read(buffer, 1), 0u);  // closed
}

TEST(UfileObjects, MappedFile) {
  ScopedSandbox sandbox;
  std::string content(70000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  writeHostFile(sandbox.driveRoot('C') + "/map.bin", content);
  writeHostFile(sandbox.driveRoot('C') + "/empty.bin", "");

  uf::MappedFile mapped;
  ASSERT_TRUE(mapped.open(L"C:\\map.bin"));
  ASSERT_EQ(mapped.size(), content.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped.data()), mapped.size()), content);

  ASSERT_TRUE(mapped.open(L"C:\\empty.bin"));  // reopening replaces the first view
  EXPECT_EQ(mapped.size(), 0u);
  EXPECT_EQ(mapped.data(), nullptr);

  EXPECT_FALSE(mapped.open(L"C:\\missing.bin"));
  EXPECT_EQ(mapped.size(), 0u);
  EXPECT_FALSE(mapped.open(L"C:\\"));  // a folder
  mapped.close();
}

}  // namespace
