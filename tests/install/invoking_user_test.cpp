// Elevation through sudo or pkexec: the user's folders are the invoking
// user's, and what the platform creates in that user's folders belongs to
// that user, so that the emulator started without the installer's rights can
// use it. Runs only as root (CI does); the invoking user is simulated with
// what sudo leaves in the environment.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/drives.h"
#include "platform/files.h"
#include "platform/invoking_user.h"
#include "platform/known_folders.h"
#include "platform/machine_profile.h"
#include "platform/registry_store.h"
#include "sudo_scope.h"
#include "support/sandbox.h"

namespace {

using install_tests::SudoScope;
using vireo::testing::Sandbox;

uid_t ownerOf(const std::string& host) {
  struct stat st;
  return lstat(host.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

class InvokingUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = sudo_.unusableReason(); !why.empty()) GTEST_SKIP() << why;
  }
  void TearDown() override {
    platform::installMachineProfile({});
    platform::resetDriveTable();
  }

  SudoScope sudo_;
};

TEST_F(InvokingUserTest, IsTheSudoOrPkexecUserOnlyWhileRunningAsRoot) {
  auto user = platform::invokingUser();
  ASSERT_TRUE(user);
  EXPECT_EQ(user->uid, sudo_.uid);
  EXPECT_EQ(user->gid, sudo_.gid);
  EXPECT_EQ(user->name, "nobody");
  EXPECT_EQ(platform::userHomeFolder(), sudo_.home);

  unsetenv("SUDO_UID");
  setenv("PKEXEC_UID", std::to_string(sudo_.uid).c_str(), 1);
  user = platform::invokingUser();
  ASSERT_TRUE(user);
  EXPECT_EQ(user->uid, sudo_.uid);
  EXPECT_EQ(user->gid, sudo_.gid) << "the user database gives the group";
  unsetenv("PKEXEC_UID");

  setenv("SUDO_UID", "0", 1);  // sudo from a root shell: nobody to look through
  EXPECT_FALSE(platform::invokingUser());
  setenv("SUDO_UID", "12x", 1);
  EXPECT_FALSE(platform::invokingUser());
}

TEST_F(InvokingUserTest, WithoutAProfileTheUsersFoldersAreTheInvokingUsers) {
  platform::installMachineProfile({});
  platform::resetDriveTable();
  setenv("XDG_CONFIG_HOME", "/root/.config", 1);  // what a kept environment may hold
  const platform::Drive* c = platform::findDrive(L'C');
  ASSERT_TRUE(c);
  EXPECT_EQ(c->root, sudo_.home);
  EXPECT_EQ(platform::hostPath(platform::appDataFolder()), sudo_.home + "/.config");
  EXPECT_EQ(platform::registry::storeFolder(), sudo_.home + "/.config/vireo/registry");
  unsetenv("XDG_CONFIG_HOME");
}

TEST_F(InvokingUserTest, AProfileKeepsNamingTheFolders) {
  Sandbox box;
  box.installInProcess();
  EXPECT_EQ(platform::findDrive(L'C')->root, box.driveRoot('C'));
  EXPECT_EQ(platform::registry::storeFolder(), box.registryHost());
}

// Files, folders and registry files created in a folder of the invoking user
// are that user's; in a folder root owns they stay root's.
TEST_F(InvokingUserTest, WhatThePlatformCreatesTakesTheOwnerOfAUsersFolder) {
  Sandbox box({{'C', ""}, {'D', ""}});
  box.installInProcess();
  std::string userDrive = box.driveRoot('D');
  ASSERT_EQ(chown(userDrive.c_str(), sudo_.uid, sudo_.gid), 0);
  ASSERT_EQ(chown(box.registryHost().c_str(), sudo_.uid, sudo_.gid), 0);

  ASSERT_EQ(platform::createDirectoryTree(L"D:\\tallis\\Vireo9"), ERROR_SUCCESS);
  EXPECT_EQ(ownerOf(userDrive + "/tallis"), sudo_.uid);
  EXPECT_EQ(ownerOf(userDrive + "/tallis/Vireo9"), sudo_.uid);

  platform::File created;
  ASSERT_TRUE(created.open(L"D:\\tallis\\Vireo9\\a.txt", true, platform::Disposition::CreateAlways));
  created.close();
  EXPECT_EQ(ownerOf(userDrive + "/tallis/Vireo9/a.txt"), sudo_.uid);
  ASSERT_TRUE(platform::writeFileAtomically(L"D:\\tallis\\b.txt", "b"));
  EXPECT_EQ(ownerOf(userDrive + "/tallis/b.txt"), sudo_.uid);
  ASSERT_TRUE(platform::moveFile(L"D:\\tallis\\b.txt", L"D:\\tallis\\Vireo9\\c.txt", 0));
  EXPECT_EQ(ownerOf(userDrive + "/tallis/Vireo9/c.txt"), sudo_.uid);

  ASSERT_EQ(platform::registry::createKey(HKEY_CURRENT_USER, L"Software\\tallis"), ERROR_SUCCESS);
  ASSERT_EQ(platform::registry::writeValue(HKEY_CURRENT_USER, L"Software\\tallis", L"InstallDir",
                                           L"D:\\tallis\\Vireo9\\"),
            ERROR_SUCCESS);
  for (const auto& entry : std::filesystem::directory_iterator(box.registryHost())) {
    EXPECT_EQ(ownerOf(entry.path()), sudo_.uid) << entry.path();
  }

  // Root's own folder: nothing is handed over.
  ASSERT_EQ(platform::createDirectoryTree(L"C:\\Program"), ERROR_SUCCESS);
  ASSERT_TRUE(platform::writeFileAtomically(L"C:\\Program\\d.txt", "d"));
  EXPECT_EQ(ownerOf(box.driveRoot('C') + "/Program"), 0u);
  EXPECT_EQ(ownerOf(box.driveRoot('C') + "/Program/d.txt"), 0u);
}

TEST_F(InvokingUserTest, WithoutSudoNothingChangesOwner) {
  Sandbox box({{'D', ""}});
  box.installInProcess();
  unsetenv("SUDO_UID");
  unsetenv("SUDO_GID");
  std::string drive = box.driveRoot('D');
  ASSERT_EQ(chown(drive.c_str(), sudo_.uid, sudo_.gid), 0);
  ASSERT_EQ(platform::createDirectoryTree(L"D:\\x"), ERROR_SUCCESS);
  EXPECT_EQ(ownerOf(drive + "/x"), 0u);
}

}  // namespace
