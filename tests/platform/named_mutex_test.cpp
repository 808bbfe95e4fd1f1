#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/code_pages.h"
#include "platform/command_line.h"
#include "platform/last_error.h"
#include "platform/named_mutex.h"
#include "platform/processes.h"
#include "platform/runtime_folder.h"
#include "probe_support.h"

namespace {

using platform::NamedMutex;
using vireo::testing::ProfileScope;
using vireo::testing::readHostFile;
using vireo::testing::Sandbox;
using vireo::testing::waitForFile;

const std::wstring kName = L"{0FD6A4D5-64F8-4417-8717-FDCFAC4728AE}";

class NamedMutexTest : public ::testing::Test {
 protected:
  // A probe that opens the mutex, reports, and holds it until ended.
  std::unique_ptr<platform::Process> startHolder(const std::wstring& name, const std::string& report) {
    std::wstring command = L"\"" + platform::windowsPath(vireo::testing::probeHostPath()) +
                           L"\" mutex " + platform::quoteArgument(name) + L" " +
                           platform::utf8ToWide(report);
    return platform::Process::start(command);
  }

  Sandbox sandbox;
  ProfileScope scope{sandbox};
};

TEST_F(NamedMutexTest, ExistsWhileAHandleIsOpen) {
  auto first = NamedMutex::create(kName);
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->existedBefore());
  auto second = NamedMutex::create(kName);
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->existedBefore());
  EXPECT_EQ(platform::getLastError(), ERROR_ALREADY_EXISTS);
  first.reset();
  auto third = NamedMutex::create(kName);
  EXPECT_TRUE(third->existedBefore()) << "the second handle still holds the name";
  second.reset();
  third.reset();
  auto fresh = NamedMutex::create(kName);
  EXPECT_FALSE(fresh->existedBefore()) << "no stale file blocks a new start";
  EXPECT_FALSE(NamedMutex::create(kName + L"x")->existedBefore());
  EXPECT_FALSE(NamedMutex::create(L"{0fd6a4d5-64f8-4417-8717-fdcfac4728ae}")->existedBefore())
      << "names are case-sensitive, as on Windows";
  fresh.reset();
  std::string folder;
  ASSERT_TRUE(platform::namedObjectFolder("mutex", folder));
  EXPECT_TRUE(std::filesystem::is_empty(folder)) << "the last handle leaves nothing behind";
}

TEST_F(NamedMutexTest, ManyThreadsOpeningAndClosingNeverSplitAName) {
  // While one handle stays open, every other handle must see the name, even
  // when closers remove the file and openers race with them.
  auto anchor = NamedMutex::create(L"race");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        auto m = NamedMutex::create(L"race");
        if (!m || !m->existedBefore()) ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  anchor.reset();
  // Without an anchor closers remove the file while openers arrive: every
  // open still succeeds.
  std::atomic<int> failed{0};
  threads.clear();
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        if (!NamedMutex::create(L"churn")) ++failed;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failed.load(), 0);
  // Without an anchor, exactly one of two overlapping handles is the creator.
  for (int i = 0; i < 200; ++i) {
    auto a = NamedMutex::create(L"pair");
    auto b = NamedMutex::create(L"pair");
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(a->existedBefore());
    EXPECT_TRUE(b->existedBefore());
  }
}

TEST_F(NamedMutexTest, AnyTextNamesAMutex) {
  for (const std::wstring& name : {std::wstring(L"../../etc/passwd"), std::wstring(L"a/b\\c"),
                                   std::wstring(L"模拟器 mutex"), std::wstring(2000, L'x'),
                                   std::wstring(L""), std::wstring(L".")}) {
    auto a = NamedMutex::create(name);
    ASSERT_TRUE(a) << platform::wideToUtf8(name);
    EXPECT_FALSE(a->existedBefore());
    EXPECT_TRUE(NamedMutex::create(name)->existedBefore());
  }
}

TEST_F(NamedMutexTest, AnotherProcessHoldsItUntilItIsKilled) {
  std::string report = sandbox.folder() + "/holder.txt";
  auto holder = startHolder(kName, report);
  ASSERT_TRUE(holder);
  ASSERT_TRUE(waitForFile(report));
  EXPECT_EQ(readHostFile(report), "created");
  EXPECT_TRUE(NamedMutex::create(kName)->existedBefore());

  kill(static_cast<pid_t>(holder->id()), SIGKILL);
  ASSERT_EQ(holder->wait(10000), WAIT_OBJECT_0);
  EXPECT_FALSE(NamedMutex::create(kName)->existedBefore()) << "death releases the name";
}

TEST_F(NamedMutexTest, AChildSeesTheParentsMutexButDoesNotInheritIt) {
  auto mine = NamedMutex::create(kName);
  ASSERT_FALSE(mine->existedBefore());
  std::string report = sandbox.folder() + "/child.txt";
  auto child = startHolder(kName, report);
  ASSERT_TRUE(child && waitForFile(report));
  EXPECT_EQ(readHostFile(report), "existed");
  mine.reset();
  EXPECT_TRUE(NamedMutex::create(kName)->existedBefore()) << "the child's own handle";
  kill(static_cast<pid_t>(child->id()), SIGKILL);
  child->wait(10000);
  EXPECT_FALSE(NamedMutex::create(kName)->existedBefore()) << "nothing inherited kept it alive";
}

TEST(NamedMutexNamespaces, ProfilesWithOtherNamespacesNeverMeet) {
  Sandbox one, two;
  std::unique_ptr<NamedMutex> held;
  {
    ProfileScope scope(one);
    held = NamedMutex::create(kName);
    ASSERT_FALSE(held->existedBefore());
  }
  ProfileScope scope(two);
  EXPECT_FALSE(NamedMutex::create(kName)->existedBefore());
}

}  // namespace
