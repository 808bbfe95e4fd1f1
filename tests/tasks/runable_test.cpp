#include "app/tasks/runable.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RunableTest, AFunctionTaskRunsItsCopiedCallableEveryTime) {
  std::string text = "before";
  int runs = 0;
  Runable* task = new FunctionRunable([text, &runs] {
    ++runs;
    EXPECT_EQ(text, "before");
  });
  text = "after";
  task->run();
  task->run();  // timer tasks run again
  task->release();
  EXPECT_EQ(runs, 2);
}

}  // namespace
