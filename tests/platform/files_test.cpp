#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "platform/files.h"
#include "platform/last_error.h"
#include "probe_support.h"

namespace {

using vireo::testing::hostFileExists;
using vireo::testing::readHostFile;
using vireo::testing::writeHostFile;

// Drive C: in a temporary folder, drive M: on another file system (/dev/shm)
// when the machine has one, so that moves between them cross volumes.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vireo-files-XXXXXX";
    c_ = mkdtemp(pattern);
    std::string drives = "{\"letter\": \"C\", \"root\": \"" + c_ + "\"}";
    char shm[] = "/dev/shm/vireo-files-XXXXXX";
    struct stat a, b;
    if (mkdtemp(shm) && stat(shm, &a) == 0 && stat(c_.c_str(), &b) == 0 && a.st_dev != b.st_dev) {
      m_ = shm;
      drives += ", {\"letter\": \"M\", \"root\": \"" + m_ + "\"}";
    }
    platform::MachineProfile p;
    std::string error;
    ASSERT_TRUE(platform::parseMachineProfile("{\"drives\": [" + drives + "]}", c_ + "/p.json", p,
                                              error))
        << error;
    platform::installMachineProfile(p);
    platform::resetDriveTable();
  }
  void TearDown() override {
    platform::installMachineProfile({});
    platform::resetDriveTable();
    std::error_code ignored;
    std::filesystem::remove_all(c_, ignored);
    if (!m_.empty()) std::filesystem::remove_all(m_, ignored);
  }
  std::string c_, m_;
};

TEST_F(FilesTest, MoveHonoursTheReplaceFlag) {
  writeHostFile(c_ + "/a.txt", "new");
  writeHostFile(c_ + "/b.txt", "old");
  EXPECT_FALSE(platform::moveFile(L"C:\\a.txt", L"C:\\b.txt", 0));
  EXPECT_EQ(platform::getLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(readHostFile(c_ + "/b.txt"), "old");
  EXPECT_TRUE(platform::moveFile(L"C:\\a.txt", L"C:\\b.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(readHostFile(c_ + "/b.txt"), "new");
  EXPECT_FALSE(hostFileExists(c_ + "/a.txt"));
  EXPECT_FALSE(platform::moveFile(L"C:\\missing", L"C:\\x", 0));
  EXPECT_EQ(platform::getLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(platform::moveFile(L"C:\\b.txt", L"Q:\\x", 0));
  EXPECT_EQ(platform::getLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesTest, MoveAcrossVolumesNeedsCopyAllowed) {
  if (m_.empty()) GTEST_SKIP() << "no second file system at /dev/shm";
  std::string content(300000, 'x');
  writeHostFile(c_ + "/big.bin", content);
  EXPECT_FALSE(platform::moveFile(L"C:\\big.bin", L"M:\\big.bin", 0));
  EXPECT_EQ(platform::getLastError(), ERROR_NOT_SAME_DEVICE);
  EXPECT_TRUE(hostFileExists(c_ + "/big.bin"));
  writeHostFile(m_ + "/big.bin", "old");
  EXPECT_FALSE(platform::moveFile(L"C:\\big.bin", L"M:\\big.bin", MOVEFILE_COPY_ALLOWED));
  EXPECT_EQ(platform::getLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(platform::moveFile(L"C:\\big.bin", L"M:\\big.bin",
                                 MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(readHostFile(m_ + "/big.bin"), content);
  EXPECT_FALSE(hostFileExists(c_ + "/big.bin"));
  EXPECT_FALSE(hostFileExists(m_ + "/big.bin.vireo-move"));
}

TEST_F(FilesTest, SizesFoldersAndAtomicWrites) {
  std::uint64_t size = 1;
  writeHostFile(c_ + "/empty", "");
  EXPECT_TRUE(platform::fileSize(L"C:\\empty", size));
  EXPECT_EQ(size, 0u);
  writeHostFile(c_ + "/five", "12345");
  EXPECT_TRUE(platform::fileSize(L"C:\\five", size));
  EXPECT_EQ(size, 5u);
  EXPECT_FALSE(platform::fileSize(L"C:\\none", size));

  EXPECT_EQ(platform::createDirectoryTree(L"C:\\x\\y\\z"), ERROR_SUCCESS);
  EXPECT_TRUE(platform::isDirectory(L"C:\\x\\y\\z"));
  EXPECT_EQ(platform::createDirectoryTree(L"C:\\x\\y"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(platform::createDirectoryTree(L"C:\\five\\sub"), ERROR_PATH_NOT_FOUND);

  EXPECT_TRUE(platform::writeFileAtomically(L"C:\\x\\data", std::string("a\0b", 3)));
  std::string back;
  EXPECT_TRUE(platform::readFile(L"C:\\x\\data", back));
  EXPECT_EQ(back, std::string("a\0b", 3));
  EXPECT_FALSE(platform::readFile(L"C:\\x", back)) << "a folder is not a file";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(c_ + "/x"),
                          std::filesystem::directory_iterator()),
            2) << "no temporary left behind";
  EXPECT_FALSE(platform::deleteFile(L"C:\\x"));
  EXPECT_TRUE(platform::deleteFile(L"C:\\five"));
  EXPECT_FALSE(platform::pathExists(L"C:\\five"));
}

TEST_F(FilesTest, FileHandlesFollowTheirDisposition) {
  platform::File f;
  EXPECT_FALSE(f.open(L"C:\\f", true, platform::Disposition::OpenExisting));
  EXPECT_EQ(platform::getLastError(), ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(f.open(L"C:\\f", true, platform::Disposition::CreateNew));
  EXPECT_TRUE(f.write("hello", 5));
  f.close();
  EXPECT_FALSE(f.open(L"C:\\f", true, platform::Disposition::CreateNew));
  EXPECT_EQ(platform::getLastError(), ERROR_FILE_EXISTS);
  ASSERT_TRUE(f.open(L"C:\\f", true, platform::Disposition::OpenAlways));
  EXPECT_TRUE(f.seekToEnd());
  EXPECT_TRUE(f.write("!", 1));
  EXPECT_TRUE(f.seek(2, SEEK_SET));
  EXPECT_TRUE(f.truncate());
  f.close();
  EXPECT_EQ(readHostFile(c_ + "/f"), "he");
  ASSERT_TRUE(f.open(L"C:\\f", true, platform::Disposition::CreateAlways));
  std::uint64_t size = 9;
  EXPECT_TRUE(f.size(size));
  EXPECT_EQ(size, 0u);
}

}  // namespace
