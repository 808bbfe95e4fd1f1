// Where the model finds or proposes the install folder at start: the
// registry value, then the desktop shortcut, then the best drive.
#include <filesystem>
#include <string>
#include <vector>

#include "location_fixture.h"

namespace location_tests {
namespace {

TEST_F(LocationTest, WithoutAnInstallationTheSolidStateDriveIsProposed) {
  machine({drive('C', 200 * 1024, false), drive('D', 30 * 1024, true)});
  model_->_calcInstallPath();
  EXPECT_EQ(model_->getInstallPath(), L"D:\\tallis\\Vireo9\\");
  EXPECT_EQ(model_->getBestPath(), L"D:\\tallis\\Vireo9\\");
  EXPECT_TRUE(model_->getBestIsSSD());
  EXPECT_EQ(model_->getPlayerPath(), L"");
  EXPECT_FALSE(model_->getHasVmData());
  EXPECT_EQ(logged(), (std::vector<std::wstring>{
                          L"read from reg: path is ",
                          L"read player path from shortcut ",
                          L"get install path from MaxFreeSpace: D:\\tallis\\Vireo9\\",
                      }));
}

TEST_F(LocationTest, ARegistryValueWithTheEmulatorIsTheInstallation) {
  machine({drive('C', 200 * 1024, false), drive('D', 30 * 1024, true)});
  installation(L"C:\\Games\\Vireo9", true);
  registryInstallDir(L"C:\\Games\\Vireo9");
  model_->_calcInstallPath();
  EXPECT_EQ(model_->getInstallPath(), L"C:\\Games\\Vireo9");
  EXPECT_EQ(model_->getPlayerPath(), L"C:\\Games\\Vireo9");
  EXPECT_TRUE(model_->getHasVmData());
  EXPECT_EQ(model_->getBestPath(), L"D:\\");  // the best drive's root
  EXPECT_TRUE(model_->getBestIsSSD());
  EXPECT_EQ(logged(), (std::vector<std::wstring>{L"read from reg: path is C:\\Games\\Vireo9"}));
}

TEST_F(LocationTest, ARegistryValueWithoutTheEmulatorFallsBackToTheShortcut) {
  machine({drive('C', 100, false), drive('D', 100, false), drive('E', 100, false)});
  std::filesystem::create_directories(host(L"D:\\old"));
  registryInstallDir(L"D:\\old");
  installation(L"E:\\emu\\Vireo9");
  desktopShortcut(L"E:\\emu\\Vireo9\\varedori.exe");
  model_->_calcInstallPath();
  EXPECT_EQ(model_->getInstallPath(), L"E:\\emu\\Vireo9\\");
  EXPECT_EQ(model_->getPlayerPath(), L"E:\\emu\\Vireo9\\");
  EXPECT_FALSE(model_->getHasVmData());
  EXPECT_EQ(model_->getBestPath(), L"C:\\");  // all equal: the earlier letter
  EXPECT_EQ(logged(), (std::vector<std::wstring>{
                          L"read from reg: path is D:\\old",
                          L"D:\\old is not exist player",
                          L"read player path from shortcut E:\\emu\\Vireo9\\",
                      }));
}

TEST_F(LocationTest, AShortcutToAMissingProgramCountsAsAbsent) {
  machine({drive('C', 100, false), drive('D', 5000, false)});
  desktopShortcut(L"D:\\gone\\varedori.exe");
  model_->_calcInstallPath();
  EXPECT_EQ(model_->getInstallPath(), L"D:\\tallis\\Vireo9\\");
  EXPECT_EQ(model_->getPlayerPath(), L"");
  EXPECT_FALSE(model_->getBestIsSSD());
}

TEST_F(LocationTest, EachEditionReadsItsOwnKeyShortcutAndFolder) {
  // Edition 4 shares the key of edition 1 but has its own shortcut name.
  machine({drive('C', 100, false), drive('D', 5000, false)}, 4);
  installation(L"D:\\V4");
  desktopShortcut(L"D:\\V4\\varedori.exe");
  model_->_calcInstallPath();
  EXPECT_EQ(model_->getInstallPath(), L"D:\\V4\\");

  BXDownloaderModel::deleteInstance();
  ConfigImp::getInstance()->edition = 0;  // no shortcut name: only the registry counts
  model_ = BXDownloaderModel::getInstance();
  model_->_calcInstallPath();
  EXPECT_EQ(model_->getInstallPath(), L"D:\\tallis\\Vireo3\\");
}

TEST_F(LocationTest, WithoutAFixedDriveTheProposalIsTheBareSubFolder) {
  machine({{'C', "\"freeMiB\": 900, \"hotplug\": true"}});
  model_->_calcInstallPath();
  EXPECT_EQ(model_->getInstallPath(), L"tallis\\Vireo9\\");
}

TEST_F(LocationTest, TheRegistryValueIsReadWithinItsBufferAndTheKeyIsCreated) {
  machine({drive('C', 100, false)});
  const std::wstring key = ConfigImp::getInstance()->getRegistryKey();
  EXPECT_EQ(model_->readInstallDir(), L"");
  EXPECT_EQ(platform::registry::keyExists(HKEY_CURRENT_USER, key), ERROR_SUCCESS);

  struct Case {
    std::wstring stored, read;
  } cases[] = {
      {L"D:\\x", L"D:\\x"},
      {std::wstring(1023, L'a'), std::wstring(1023, L'a')},  // with the terminator: 2,048 bytes
      {std::wstring(1024, L'a'), L""},                       // does not fit
      {std::wstring(L"D:\\x\0junk", 9), L"D:\\x"},           // up to the first zero
  };
  for (const auto& c : cases) {
    registryInstallDir(c.stored);
    EXPECT_EQ(model_->readInstallDir(), c.read) << c.stored.size();
  }
}

TEST_F(LocationTest, SetInstallPathNotesEmulatorData) {
  machine({drive('C', 100, false), drive('D', 100, false)});
  std::filesystem::create_directories(host(L"D:\\a\\vms"));
  model_->setInstallPath(L"D:\\a\\");
  EXPECT_TRUE(model_->getHasVmData());
  model_->setInstallPath(L"D:\\b\\");
  EXPECT_FALSE(model_->getHasVmData());
  EXPECT_EQ(model_->getInstallPath(), L"D:\\b\\");
}

TEST_F(LocationTest, RecalculationAfterSwitchingToEditionFourTakesTheZud5AddressOver) {
  machine({drive('C', 200 * 1024, false), drive('D', 30 * 1024, true)});
  model_->applyPlayerUrlAnswer(
      R"({"zud9": {"url": "https://cdn/9.exe", "url_spare": "https://cdn/9s.exe",
                   "ver": "9.1.2", "vershow": "9.1"},
          "zud5": {"url": "https://cdn/5.exe"}})");
  model_->_calcInstallPath();
  model_->setInstallPath(L"C:\\mine\\");

  ConfigImp::getInstance()->edition = 4;
  model_->recalcInstallPath();
  EXPECT_EQ(model_->getInstallPath(), L"D:\\tallis\\Vireo4\\");
  PlayerAddress address = model_->getPlayerAddress();
  EXPECT_EQ(address.url, L"https://cdn/5.exe");
  EXPECT_EQ(address.urlSpare, L"");  // empty values are taken over too
  EXPECT_EQ(address.version, L"");
  EXPECT_EQ(address.versionShow, L"");
}

TEST_F(LocationTest, RecalculationForAnotherEditionKeepsTheAddress) {
  machine({drive('C', 200 * 1024, false)});
  model_->applyPlayerUrlAnswer(R"({"zud9": {"url": "https://cdn/9.exe"}, "zud5": {"url": "x"}})");
  ConfigImp::getInstance()->edition = 2;
  model_->recalcInstallPath();
  EXPECT_EQ(model_->getInstallPath(), L"C:\\tallis\\Vireo64\\");
  EXPECT_EQ(model_->getPlayerAddress().url, L"https://cdn/9.exe");
}

}  // namespace
}  // namespace location_tests
