#include "agent/base/task/task_posting_deferral_scope.h"

#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/test/test_task_runner.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

OneShotClosure Append(std::vector<int>* order, int value) {
  return BindOneShot([](std::vector<int>* order, int value) {
    order->push_back(value);
  }, order, value);
}

TEST(TaskPostingDeferralScopeTest, NothingIsDeferredWithoutAScope) {
  auto runner = MakeRefCounted<test::TestTaskRunner>();
  std::vector<int> order;
  OneShotClosure task = Append(&order, 1);
  EXPECT_FALSE(TaskPostingDeferralScope::DeferIfActive(runner, FROM_HERE,
                                                       task, Duration()));
  EXPECT_FALSE(task.is_null());
}

TEST(TaskPostingDeferralScopeTest, OutermostScopePostsDeferredTasksInOrder) {
  auto runner = MakeRefCounted<test::TestTaskRunner>();
  runner->BindToCurrentThread();
  std::vector<int> order;
  {
    TaskPostingDeferralScope outer;
    OneShotClosure first = Append(&order, 1);
    EXPECT_TRUE(TaskPostingDeferralScope::DeferIfActive(runner, FROM_HERE,
                                                        first, Duration()));
    EXPECT_TRUE(first.is_null());
    {
      // A nested scope defers to the outer one.
      TaskPostingDeferralScope inner;
      OneShotClosure second = Append(&order, 2);
      EXPECT_TRUE(TaskPostingDeferralScope::DeferIfActive(
          runner, FROM_HERE, second, Duration()));
    }
    EXPECT_EQ(runner->NumPendingTasks(), 0u);
    OneShotClosure third = Append(&order, 3);
    EXPECT_TRUE(TaskPostingDeferralScope::DeferIfActive(runner, FROM_HERE,
                                                        third, Duration()));
  }
  EXPECT_EQ(runner->NumPendingTasks(), 3u);
  runner->RunUntilIdle();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

  // The scope is no longer active.
  OneShotClosure later = Append(&order, 4);
  EXPECT_FALSE(TaskPostingDeferralScope::DeferIfActive(runner, FROM_HERE,
                                                       later, Duration()));
}

}  // namespace
}  // namespace kelmbase
