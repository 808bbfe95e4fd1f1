// The decision at the end of the installation, as a table: the window's
// flags, the launch parameters and the first game item against the action,
// the emulator's argument text and what the window does afterwards.
#include "model/completion_plan.h"

#include <gtest/gtest.h>

#include "platform/code_pages.h"

namespace {

using Action = CompletionPlan::Action;

GameItem item(std::wstring apkUrl, std::wstring packageName, std::wstring gameId, bool fromAppStore) {
  GameItem i;
  i.apkUrl = std::move(apkUrl);
  i.packageName = std::move(packageName);
  i.gameId = std::move(gameId);
  i.fromAppStore = fromAppStore;
  i.appName = L"天空之城";
  return i;
}

struct PlanCase {
  const char* name;
  CompletionFacts facts;
  bool ignore;
  Action action;
  std::wstring arguments;
  bool hideAndQuit;
  bool finished;
};

std::ostream& operator<<(std::ostream& out, const PlanCase& c) { return out << c.name; }

class CompletionPlanTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(CompletionPlanTest, DecidesAsTheWindowWould) {
  const PlanCase& c = GetParam();
  CompletionPlan plan = planInstallFinished(c.facts);
  EXPECT_EQ(plan.ignore, c.ignore);
  if (c.ignore) return;
  EXPECT_EQ(plan.fillProgressBar, c.facts.success);
  EXPECT_EQ(static_cast<int>(plan.action), static_cast<int>(c.action));
  EXPECT_EQ(platform::wideToUtf8(plan.playerArguments), platform::wideToUtf8(c.arguments));
  EXPECT_EQ(plan.hideAndQuit, c.hideAndQuit);
  EXPECT_EQ(plan.finished, c.finished);
}

const GameItem kStoreItem = item(L"", L"com.tallis.game", L"", true);
const GameItem kIdItem = item(L"https://cdn/x.apk", L"com.tallis.game", L"1024", false);
const GameItem kUrlItem = item(L"https://cdn/x.apk", L"com.tallis.game", L"", false);
const GameItem kNoPackageItem = item(L"", L"", L"", false);
const GameItem kPackageOnlyItem = item(L"", L"com.tallis.game", L"", false);

INSTANTIATE_TEST_SUITE_P(
    Cases, CompletionPlanTest,
    ::testing::Values(
        PlanCase{"an earlier install error changes nothing",
                 {true, true, L"1024", L"com.tallis.game", {kIdItem}}, true, Action::FinishPage,
                 L"", false, false},
        PlanCase{"a launch game id wins over the items",
                 {false, true, L"77", L"com.tallis.game", {kUrlItem}}, false,
                 Action::RunGameWithShortcut, L"", true, false},
        PlanCase{"an app-store item goes to the emulator's store",
                 {false, true, L"", L"com.tallis.game", {kStoreItem, kUrlItem}}, false,
                 Action::RunPlayer,
                 L"apk=|show=true|package=com.tallis.game|downloadapkurl=;S.package=com.tallis.game"
                 L";S.appname=天空之城;S.appicon=;S.appsize=96",
                 true, false},
        PlanCase{"an item with a game id",
                 {false, false, L"", L"", {kIdItem}}, false, Action::RunPlayer,
                 L"apk=|show=true|package=com.tallis.game|downloadgameid=1024", true, false},
        PlanCase{"an item with an address opens the game page",
                 {false, true, L"", L"", {kUrlItem}}, false, Action::GamePage, L"", false, false},
        PlanCase{"an item without a package name opens the game page",
                 {false, true, L"", L"", {kNoPackageItem}}, false, Action::GamePage, L"", false,
                 false},
        PlanCase{"a package without address or id is downloaded by the emulator",
                 {false, true, L"", L"", {kPackageOnlyItem}}, false, Action::RunPlayer,
                 L"apk=|show=true|package=com.tallis.game|downloadpackage=com.tallis.game", true,
                 false},
        PlanCase{"a launch package without items",
                 {false, true, L"", L"com.tallis.game", {}}, false, Action::RunGame, L"", true,
                 false},
        PlanCase{"nothing to deliver after a success: the finish page",
                 {false, true, L"", L"", {}}, false, Action::FinishPage, L"", false, true},
        PlanCase{"nothing to deliver after a failure: the progress page stays",
                 {false, false, L"", L"", {}}, false, Action::StayOnProgressPage, L"", false,
                 true}),
    [](const ::testing::TestParamInfo<PlanCase>& info) { return "Case" + std::to_string(info.index); });

TEST(CompletionPlan, TheGamePageCarriesTheItemToDeliver) {
  CompletionFacts facts{false, true, L"", L"", {kUrlItem, kIdItem}};
  CompletionPlan plan = planInstallFinished(facts);
  ASSERT_EQ(static_cast<int>(plan.action), static_cast<int>(Action::GamePage));
  EXPECT_EQ(plan.gameItem.apkUrl, kUrlItem.apkUrl);
  EXPECT_EQ(plan.gameItem.appName, L"天空之城");
  EXPECT_EQ(gameItemArguments(kUrlItem), L"") << "the game page, not an argument text";
}

}  // namespace
