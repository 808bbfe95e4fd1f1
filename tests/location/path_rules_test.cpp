// The main window's folder decisions: completion of a chosen folder, the
// advice boxes and what their buttons lead to, the warning before leaving an
// installation, and the check before installing with its reports.
#include <rapidjson/document.h>

#include <filesystem>
#include <string>
#include <vector>

#include "location_fixture.h"
#include "model/install_path_rules.h"
#include "platform/code_pages.h"
#include "report/zk_reporter.h"
#include "support/backend_process.h"

namespace location_tests {
namespace {

using path_rules::FollowUp;

constexpr const char* kChangePathFunction = "BXDownloaderMainFrame::changePathClac";
const std::wstring kSsdAdviceE =
    L"检测到E盘是机械硬盘，会使模拟器卡顿、加载慢。需要换成更流畅的固态硬盘(D盘)吗？";
const std::wstring kSpaceAdviceD =
    L"该目录磁盘空间不足，会影响安装游戏和下载资源，需要换成空间更大的D盘吗？";

std::string utf8(const std::wstring& s) { return platform::wideToUtf8(s); }

// The "failure_reason" of every "downloader_start_install_fail" in the uploads.
std::vector<std::string> startFailureReasons(const std::vector<std::string>& uploads) {
  std::vector<std::string> reasons;
  for (const auto& line : uploads) {
    rapidjson::Document record;
    record.Parse(line.c_str());
    if (!record.IsObject() || !record.HasMember("body") || !record["body"].IsArray()) continue;
    for (const auto& event : record["body"].GetArray()) {
      if (std::string(event["eventKey"].GetString()) != "downloader_start_install_fail") continue;
      reasons.emplace_back(event["properties"]["failure_reason"].GetString());
    }
  }
  return reasons;
}

class PathRulesTest : public LocationTest {
 protected:
  // A hard disk C:, a solid-state D: (the best drive), a roomy hard disk E:,
  // a small hard disk F: and an exFAT G:. No installation: the proposal is
  // D:\tallis\Vireo9\.
  void standardMachine(int edition = 3) {
    machine({drive('C', 200000, false), drive('D', 30000, true), drive('E', 100000, false),
             drive('F', 10000, false), drive('G', 500000, false, "exFAT")},
            edition);
    model_->_calcInstallPath();
    ASSERT_EQ(model_->getInstallPath(), L"D:\\" + ConfigImp::getInstance()->getInstallSubDir());
    log_.clear();
  }

  std::vector<std::wstring> ruleLog() const { return log_.messages(kChangePathFunction); }
};

TEST_F(PathRulesTest, ChosenFoldersAreCompletedWithTheEditionsNames) {
  standardMachine();
  struct Case {
    std::wstring chosen, applied;
  } cases[] = {
      {L"D:\\", L"D:\\tallis\\Vireo9\\"},
      {L"D:/", L"D:\\tallis\\Vireo9\\"},
      {L"D:\\tallis", L"D:\\tallis\\Vireo9\\"},
      {L"D:/tallis", L"D:\\tallis\\Vireo9\\"},
      {L"D:/tallis/", L"D:\\tallis\\Vireo9\\"},
      {L"E:\\TALLIS", L"E:\\TALLIS\\Vireo9\\"},
      {L"D:\\Games\\tallis", L"D:\\Games\\tallis\\Vireo9\\"},
      {L"D:\\Games", L"D:\\Games\\tallis\\Vireo9\\"},
      {L"D:/Games", L"D:\\Games\\tallis\\Vireo9\\"},
      {L"D:\\tallis\\other", L"D:\\tallis\\other\\tallis\\Vireo9\\"},
      {L"D:\\Games\\Vireo", L"D:\\Games\\Vireo\\"},
      {L"D:/Games/Vireo", L"D:\\Games\\Vireo\\"},
      {L"D:/Games//Vireo", L"D:\\Games\\Vireo\\"},
      {L"D:\\games\\vireo",
       L"D:\\games\\vireo\\tallis\\Vireo9\\"},  // the brand word keeps its case
      {L"D:\\Games\\varedori", L"D:\\Games\\varedori\\"},
      {L"D:///Games", L"D:\\\\Games\\tallis\\Vireo9\\"},  // doubled backslashes: one pass
      {L"Q:/x", L"Q:/x\\tallis\\Vireo9\\"},               // invalid: stored as completed
      {L"D:/a*b", L"D:/a*b\\tallis\\Vireo9\\"},
  };
  for (const auto& c : cases) {
    model_->setInstallPath(L"C:\\elsewhere\\");
    auto applied = path_rules::applyInstallPath(*model_, c.chosen);
    ASSERT_TRUE(applied.has_value()) << utf8(c.chosen);
    EXPECT_EQ(*applied, c.applied) << utf8(c.chosen);
    EXPECT_EQ(model_->getInstallPath(), c.applied) << utf8(c.chosen);
  }
}

TEST_F(PathRulesTest, EditionFourCompletesWithItsOwnNames) {
  standardMachine(4);
  EXPECT_EQ(path_rules::applyInstallPath(*model_, L"E:\\"), L"E:\\tallis\\Vireo4\\");
  EXPECT_EQ(path_rules::applyInstallPath(*model_, L"E:/tallis"), L"E:\\tallis\\Vireo4\\");
}

TEST_F(PathRulesTest, TheInstallFolderItselfIsNotAppliedAgain) {
  standardMachine();
  EXPECT_FALSE(path_rules::applyInstallPath(*model_, L"D:\\tallis\\Vireo9\\").has_value());
  std::filesystem::create_directories(host(L"E:\\Games\\Vireo\\vms"));
  path_rules::applyInstallPath(*model_, L"E:/Games/Vireo");
  EXPECT_TRUE(model_->getHasVmData());  // the install button reads "覆盖安装"
}

TEST_F(PathRulesTest, AHardDiskFromTheBrowserGetsTheSolidStateAdvice) {
  standardMachine();
  auto change = path_rules::changePathClac(*model_, false, L"E:/Games");
  EXPECT_EQ(change.shownPath, L"E:\\Games\\tallis\\Vireo9\\");
  ASSERT_TRUE(change.advice.has_value());
  const auto& box = *change.advice;
  EXPECT_EQ(box.title, L"安装建议");
  EXPECT_EQ(box.text, kSsdAdviceE);
  EXPECT_EQ(box.declineButton, L"不，谢谢");
  EXPECT_EQ(box.acceptButton, L"好的");
  EXPECT_EQ(box.onAccept.action, FollowUp::Action::ApplyPath);
  EXPECT_EQ(box.onAccept.path, L"D:\\tallis\\Vireo9\\");
  EXPECT_EQ(box.onDecline.action, FollowUp::Action::ChangePath);
  EXPECT_EQ(box.onDecline.path, L"E:/Games");
  EXPECT_TRUE(box.onDecline.skipAdvice);

  // "好的": back to the solid-state drive.
  auto accepted = path_rules::runFollowUp(*model_, box.onAccept);
  EXPECT_EQ(accepted.shownPath, L"D:\\tallis\\Vireo9\\");
  EXPECT_EQ(model_->getInstallPath(), L"D:\\tallis\\Vireo9\\");
  EXPECT_FALSE(accepted.advice.has_value());

  // "不，谢谢": the chosen folder stays; E: has room, so no further advice.
  auto declined = path_rules::runFollowUp(*model_, box.onDecline);
  EXPECT_EQ(model_->getInstallPath(), L"E:\\Games\\tallis\\Vireo9\\");
  EXPECT_FALSE(declined.advice.has_value());
}

TEST_F(PathRulesTest, TheSameFolderTypedIntoThePathBoxGetsNoSolidStateAdvice) {
  standardMachine();
  auto change = path_rules::changePathClac(*model_, true, L"E:/Games");
  EXPECT_EQ(change.shownPath, L"E:\\Games\\tallis\\Vireo9\\");
  EXPECT_FALSE(change.advice.has_value());
}

TEST_F(PathRulesTest, ASmallDriveGetsTheSpaceAdvice) {
  standardMachine();
  auto change = path_rules::changePathClac(*model_, true, L"F:/Games");
  EXPECT_EQ(model_->getInstallPath(), L"F:\\Games\\tallis\\Vireo9\\");
  ASSERT_TRUE(change.advice.has_value());
  EXPECT_EQ(change.advice->title, L"安装建议");
  EXPECT_EQ(change.advice->text, kSpaceAdviceD);
  EXPECT_EQ(change.advice->declineButton, L"不，谢谢");
  EXPECT_EQ(change.advice->acceptButton, L"好的");
  EXPECT_EQ(change.advice->onAccept.action, FollowUp::Action::ApplyPath);
  EXPECT_EQ(change.advice->onAccept.path, L"D:\\tallis\\Vireo9\\");
  EXPECT_EQ(change.advice->onDecline.action, FollowUp::Action::Nothing);
  EXPECT_EQ(ruleLog(), (std::vector<std::wstring>{L"left 17G"}));

  // The root of an exFAT drive counts as full; a folder on it does not.
  EXPECT_TRUE(path_rules::changePathClac(*model_, true, L"G:/").advice.has_value());
  EXPECT_FALSE(path_rules::changePathClac(*model_, true, L"G:/Games").advice.has_value());
}

TEST_F(PathRulesTest, DecliningTheSolidStateAdviceLetsTheSpaceAdviceFollow) {
  standardMachine();
  // A folder that needs completion and one that names the product already.
  for (const std::wstring chosen : {L"F:/Games", L"F:/Games/Vireo"}) {
    model_->setInstallPath(L"D:\\tallis\\Vireo9\\");
    auto change = path_rules::changePathClac(*model_, false, chosen);
    ASSERT_TRUE(change.advice.has_value()) << utf8(chosen);
    EXPECT_NE(change.advice->text.find(L"固态硬盘"), std::wstring::npos);
    auto declined = path_rules::runFollowUp(*model_, change.advice->onDecline);
    ASSERT_TRUE(declined.advice.has_value()) << utf8(chosen);
    EXPECT_EQ(declined.advice->text, kSpaceAdviceD) << utf8(chosen);
    EXPECT_EQ(path_rules::runFollowUp(*model_, declined.advice->onDecline).shownPath, std::nullopt);
  }
}

TEST_F(PathRulesTest, TheCurrentDriveAndTheBestDriveGiveNoAdvice) {
  standardMachine();
  // From the browser on the drive of the current folder.
  model_->setInstallPath(L"F:\\old\\");
  auto sameDrive = path_rules::changePathClac(*model_, false, L"F:/Games");
  EXPECT_EQ(sameDrive.shownPath, L"F:\\Games\\tallis\\Vireo9\\");
  EXPECT_FALSE(sameDrive.advice.has_value());
  // On the best drive, from either the browser or the path box.
  auto bestDrive = path_rules::changePathClac(*model_, false, L"D:/Games");
  EXPECT_FALSE(bestDrive.advice.has_value());
  model_->setInstallPath(L"F:\\old\\");
  EXPECT_FALSE(path_rules::changePathClac(*model_, true, L"D:/Other").advice.has_value());
  EXPECT_EQ(ruleLog(),
            (std::vector<std::wstring>{L"same path ", L"same best path", L"same best path"}));
}

TEST_F(PathRulesTest, AHardDiskAsBestDriveGivesNoSolidStateAdvice) {
  machine({drive('C', 200000, false), drive('E', 100000, false)});
  model_->_calcInstallPath();
  EXPECT_FALSE(path_rules::changePathClac(*model_, false, L"E:/Games").advice.has_value());
}

TEST_F(PathRulesTest, TheInstallFolderOrAFolderBelowItChangesNothing) {
  standardMachine();
  for (const std::wstring chosen :
       {L"D:/tallis/Vireo9", L"D:/tallis/Vireo9/", L"D:/tallis/Vireo9/sub"}) {
    auto change = path_rules::changePathClac(*model_, false, chosen);
    EXPECT_FALSE(change.shownPath.has_value()) << utf8(chosen);
    EXPECT_FALSE(change.advice.has_value()) << utf8(chosen);
    EXPECT_EQ(model_->getInstallPath(), L"D:\\tallis\\Vireo9\\") << utf8(chosen);
  }
  // A sibling whose name merely starts like the install folder is a change.
  auto sibling = path_rules::changePathClac(*model_, false, L"D:/tallis/Vireo99");
  EXPECT_EQ(sibling.shownPath, L"D:\\tallis\\Vireo99\\");
  EXPECT_EQ(ruleLog(), (std::vector<std::wstring>{L"same path "}));
}

TEST_F(PathRulesTest, LeavingAnExistingInstallationAsksFirst) {
  machine({drive('C', 200000, false), drive('D', 30000, true)});
  EXPECT_FALSE(path_rules::onChangePathClicked(*model_).has_value());  // nothing installed

  installation(L"C:\\Vireo9\\");
  registryInstallDir(L"C:\\Vireo9\\");
  model_->_calcInstallPath();
  auto box = path_rules::onChangePathClicked(*model_);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->title, L"提示");
  EXPECT_EQ(box->text, L"检测到已安装模拟器，更改路径将无法读取已有数据。确定更改吗？");
  EXPECT_EQ(box->declineButton, L"取消");
  EXPECT_EQ(box->acceptButton, L"确定");
  EXPECT_EQ(box->onAccept.action, FollowUp::Action::Browse);
  EXPECT_EQ(box->onDecline.action, FollowUp::Action::Nothing);

  path_rules::applyInstallPath(*model_, L"D:\\");  // already left: browse at once
  EXPECT_FALSE(path_rules::onChangePathClicked(*model_).has_value());
}

TEST_F(PathRulesTest, StartingTheInstallationNeedsAValidFolderWithEightGigabytes) {
  machine({drive('C', 200000, false), drive('H', 8191, false), drive('I', 8192, false)});
  installation(L"H:\\installed\\");
  struct Case {
    const char* what;
    std::wstring path;
    bool agreement;
    bool accepted;
    std::wstring languageMessage;
    bool spaceNotice;
    std::wstring reason;
  } cases[] = {
      {"agreement not accepted", L"C:\\Vireo\\", false, false, L"MsgBox_accept_protocol", false,
       L""},
      {"invalid folder", L"Q:\\Vireo\\", true, false, L"MsgBox_error_path", false, L"path_error"},
      {"a component of spaces", L"C:\\ \\Vireo\\", true, false, L"MsgBox_error_path", false,
       L"path_error"},
      {"8,191 MiB free", L"H:\\Vireo\\", true, false, L"", true, L"space_notEnough"},
      {"8,191 MiB free over an installation", L"H:\\installed\\", true, true, L"", false, L""},
      {"an installation named without the final separator", L"H:\\installed", true, true, L"",
       false, L""},
      {"8,192 MiB free", L"I:\\Vireo\\", true, true, L"", false, L""},
  };
  for (const auto& c : cases) {
    model_->setInstallPath(c.path);
    auto check = path_rules::canStartInstall(*model_, c.agreement);
    EXPECT_EQ(check.accepted, c.accepted) << c.what;
    EXPECT_EQ(check.languageMessage, c.languageMessage) << c.what;
    EXPECT_EQ(check.failureReason, c.reason) << c.what;
    ASSERT_EQ(check.notice.has_value(), c.spaceNotice) << c.what;
    if (check.notice) {
      EXPECT_EQ(check.notice->title, L"提示");
      EXPECT_EQ(check.notice->text, L"该目录磁盘空间不足8GB，请清理后重试");
      EXPECT_EQ(check.notice->button, L"我知道了");
    }
  }
}

TEST_F(PathRulesTest, RefusalsOfTheFolderAreReportedToTheAnalyticsService) {
  machine({drive('C', 200000, false), drive('H', 8191, false)});
  std::filesystem::create_directories(sandbox_->folder() + "/served");
  vireo::testing::BackendProcess backend(sandbox_->folder() + "/served");
  ASSERT_TRUE(backend.running());
  sandbox_->rewriteProfile("\"services\": {\"analytics\": \"" + backend.baseUrl() + "\"}");
  sandbox_->installInProcess();

  ZKReporter* reporter = ZKReporter::getInstance();
  reporter->start(L"openid-1", L"PCID-1");
  model_->setInstallPath(L"Q:\\Vireo\\");
  path_rules::canStartInstall(*model_, true);
  model_->setInstallPath(L"H:\\Vireo\\");
  path_rules::canStartInstall(*model_, true);
  reporter->flush();
  // Events that earlier tests of this process queued may go out first, in
  // uploads of their own: read until this test's two have arrived.
  std::vector<std::string> reasons;
  for (std::size_t uploads = 1; uploads <= 4; ++uploads) {
    reasons = startFailureReasons(backend.waitForRecordLines(uploads));
    if (reasons.size() >= 2 && reasons.back() == "space_notEnough") break;
  }
  reporter->stop();
  ASSERT_GE(reasons.size(), 2u);
  EXPECT_EQ(reasons[reasons.size() - 2], "path_error");
  EXPECT_EQ(reasons.back(), "space_notEnough");
}

}  // namespace
}  // namespace location_tests
