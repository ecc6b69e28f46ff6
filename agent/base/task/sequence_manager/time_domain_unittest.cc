#include "agent/base/task/sequence_manager/time_domain.h"

#include <memory>
#include <string>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/task/sequence_manager/real_time_domain.h"
#include "agent/base/task/sequence_manager/task_queue_impl.h"
#include "agent/base/task/sequence_manager/test/sequence_manager_for_test.h"
#include "agent/base/task/sequence_manager/work_queue.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace sequence_manager {
namespace {

MonotonicTime At(int64_t ms) {
  return MonotonicTime() + Duration::FromMilliseconds(ms);
}

TEST(DelayedWakeUpTest, HeapOrder) {
  struct Case {
    DelayedWakeUp a;
    DelayedWakeUp b;
    bool a_first;
  };
  const Case cases[] = {
      {{At(1), 9, WakeUpResolution::kLow},
       {At(2), 1, WakeUpResolution::kLow},
       true},
      {{At(2), 1, WakeUpResolution::kLow},
       {At(1), 9, WakeUpResolution::kLow},
       false},
      {{At(1), 3, WakeUpResolution::kHigh},
       {At(1), 4, WakeUpResolution::kLow},
       true},
      {{At(1), 4, WakeUpResolution::kLow},
       {At(1), 3, WakeUpResolution::kLow},
       false},
      // Sequence numbers compare across their 32-bit wrap.
      {{At(1), -1, WakeUpResolution::kLow},
       {At(1), 0, WakeUpResolution::kLow},
       true},
      {{At(1), 0x7FFFFFFF, WakeUpResolution::kLow},
       {At(1), static_cast<int>(0x80000000u), WakeUpResolution::kLow},
       true},
      {{At(1), 5, WakeUpResolution::kLow},
       {At(1), 5, WakeUpResolution::kHigh},
       true},
      {{At(1), 5, WakeUpResolution::kHigh},
       {At(1), 5, WakeUpResolution::kLow},
       false},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cases[i].a.ComesBefore(cases[i].b), cases[i].a_first) << i;
}

class TimeDomainTest : public testing::Test {
 protected:
  TimeDomain* domain() { return env_.manager()->GetRealTimeDomain(); }
  scoped_refptr<TaskQueue> CreateQueue(const char* name) {
    return env_.manager()->CreateTaskQueue(TaskQueue::Spec(name));
  }
  void PostDelayed(const scoped_refptr<TaskQueue>& queue, const char* name,
                   int64_t ms) {
    queue->task_runner()->PostDelayedTask(
        FROM_HERE,
        BindOneShot([](std::vector<std::string>* log,
                       const char* name) { log->push_back(name); },
                    &log_, name),
        Duration::FromMilliseconds(ms));
  }

  SequenceManagerForTest env_;
  std::vector<std::string> log_;
};

TEST_F(TimeDomainTest, KeepsOneEntryPerQueueAndReportsTheEarliest) {
  scoped_refptr<TaskQueue> a = CreateQueue("a");
  scoped_refptr<TaskQueue> b = CreateQueue("b");
  const MonotonicTime start = env_.clock()->Now();
  EXPECT_FALSE(domain()->NextScheduledRunTime());
  LazyNow lazy_now(env_.clock());
  EXPECT_FALSE(domain()->DelayTillNextTask(&lazy_now));
  Value empty = domain()->AsValue();
  EXPECT_EQ(*empty.FindStringKey("name"), "RealTimeDomain");
  EXPECT_EQ(empty.FindKey("registered_delay_count")->GetInt(), 0);
  EXPECT_EQ(empty.FindKey("next_delay_ms"), nullptr);

  PostDelayed(a, "a10", 10);
  PostDelayed(b, "b20", 20);
  PostDelayed(a, "a30", 30);
  EXPECT_EQ(domain()->NumberOfScheduledWakeUps(), 2u);
  EXPECT_EQ(domain()->NextScheduledRunTime(),
            start + Duration::FromMilliseconds(10));
  EXPECT_EQ(env_.controller()->delayed_do_work_requests(),
            std::vector<MonotonicTime>{start + Duration::FromMilliseconds(10)});
  LazyNow now(env_.clock());
  EXPECT_EQ(domain()->DelayTillNextTask(&now), Duration::FromMilliseconds(10));
  EXPECT_EQ(domain()->AsValue().FindKey("next_delay_ms")->GetDouble(), 10.0);

  // Both due queues move in one call, in heap order.
  env_.clock()->Advance(Duration::FromMilliseconds(20));
  LazyNow later(env_.clock());
  EXPECT_EQ(domain()->DelayTillNextTask(&later), Duration());
  domain()->MoveReadyDelayedTasksToWorkQueues(&later);
  EXPECT_EQ(a->GetTaskQueueImpl()->delayed_work_queue()->Size(), 1u);
  EXPECT_EQ(b->GetTaskQueueImpl()->delayed_work_queue()->Size(), 1u);
  EXPECT_EQ(domain()->NumberOfScheduledWakeUps(), 1u);
  EXPECT_EQ(domain()->NextScheduledRunTime(),
            start + Duration::FromMilliseconds(30));

  env_.controller()->RunUntilIdle();
  EXPECT_EQ(log_, (std::vector<std::string>{"a10", "b20"}));
  a->ShutdownTaskQueue();
  EXPECT_FALSE(domain()->NextScheduledRunTime());
  EXPECT_EQ(env_.controller()->delayed_do_work_requests().back(),
            MonotonicTime::Max());
  EXPECT_FALSE(domain()->HasPendingHighResolutionTasks());
  EXPECT_FALSE(domain()->MaybeFastForwardToNextTask(true));
}

TEST_F(TimeDomainTest, DestroyingTheManagerForgetsTheQueues) {
  scoped_refptr<TaskQueue> a = CreateQueue("a");
  PostDelayed(a, "a", 10);
  internal::TaskQueueImpl* impl = a->GetTaskQueueImpl();
  EXPECT_EQ(impl->wake_up_heap_handle(), 0);
  env_.DestroyManager();
  EXPECT_EQ(impl->wake_up_heap_handle(), -1);
}

}  // namespace
}  // namespace sequence_manager
}  // namespace kelmbase
