#include "agent/base/message_pump/descriptor_watch_scope.h"

#include <thread>

#include "agent/base/memory/ref_counted.h"
#include "agent/base/test/test_task_runner.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(DescriptorWatchScopeTest, MarksTheThreadWhileItLives) {
  EXPECT_EQ(DescriptorWatchScope::GetCurrent(), nullptr);
  auto runner = MakeRefCounted<test::TestTaskRunner>();
  {
    DescriptorWatchScope scope(runner);
    EXPECT_EQ(DescriptorWatchScope::GetCurrent(), &scope);
    EXPECT_EQ(scope.io_thread_task_runner().get(), runner.get());
    EXPECT_FALSE(runner->HasSingleRef());

    DescriptorWatchScope* seen_elsewhere = &scope;
    std::thread other(
        [&] { seen_elsewhere = DescriptorWatchScope::GetCurrent(); });
    other.join();
    EXPECT_EQ(seen_elsewhere, nullptr);
  }
  EXPECT_EQ(DescriptorWatchScope::GetCurrent(), nullptr);
  EXPECT_TRUE(runner->HasSingleRef());
}

}  // namespace
}  // namespace kelmbase
