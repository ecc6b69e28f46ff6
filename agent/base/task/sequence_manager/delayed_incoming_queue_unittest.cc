#include "agent/base/task/sequence_manager/delayed_incoming_queue.h"

#include <cstdint>
#include <string>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/memory/weak_ptr.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {
namespace {

MonotonicTime At(int64_t ms) {
  return MonotonicTime() + Duration::FromMilliseconds(ms);
}

Task MakeDelayedTask(int64_t run_ms, EnqueueOrder sequence_order,
                     bool high_res = false) {
  return Task(PostedTask(nullptr, BindOneShot([] {}), FROM_HERE), At(run_ms),
              sequence_order, kNoEnqueueOrder,
              high_res ? WakeUpResolution::kHigh : WakeUpResolution::kLow);
}

std::vector<int> PopAll(DelayedIncomingQueue& queue) {
  std::vector<int> ids;
  while (!queue.empty()) {
    ids.push_back(queue.top().sequence_num);
    queue.pop();
  }
  return ids;
}

TEST(DelayedIncomingQueueTest, PopsByRunTimeThenSequenceNumber) {
  struct Posted {
    int64_t run_ms;
    EnqueueOrder sequence;
  };
  struct Case {
    const char* name;
    std::vector<Posted> posted;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {"earlier run time first", {{30, 2}, {10, 3}, {20, 4}}, {3, 4, 2}},
      {"equal run times by sequence", {{10, 5}, {10, 3}, {10, 4}}, {3, 4, 5}},
      {"run time beats sequence", {{20, 2}, {10, 9}, {20, 3}}, {9, 2, 3}},
      // Sequence numbers are the low 32 bits of a 64-bit counter; order
      // must survive their wrap from 0xFFFFFFFF to 0 (and from 2^31 - 1 to
      // -2^31).
      {"across the 32-bit wrap",
       {{10, 0x100000001},
        {10, 0xFFFFFFFE},
        {10, 0x100000000},
        {10, 0xFFFFFFFF}},
       {-2, -1, 0, 1}},
      {"across the sign change",
       {{10, 0x80000000}, {10, 0x7FFFFFFF}},
       {0x7FFFFFFF, static_cast<int>(0x80000000u)}},
  };
  for (const Case& c : cases) {
    DelayedIncomingQueue queue;
    for (const Posted& p : c.posted)
      queue.push(MakeDelayedTask(p.run_ms, p.sequence));
    EXPECT_EQ(PopAll(queue), c.expected) << c.name;
  }
}

TEST(DelayedIncomingQueueTest, CountsPendingHighResolutionTasks) {
  DelayedIncomingQueue queue;
  queue.push(MakeDelayedTask(10, 2, /*high_res=*/true));
  queue.push(MakeDelayedTask(20, 3));
  queue.push(MakeDelayedTask(30, 4, /*high_res=*/true));
  EXPECT_EQ(queue.pending_high_res_tasks(), 2);
  queue.pop();
  EXPECT_EQ(queue.pending_high_res_tasks(), 1);
  queue.pop();
  EXPECT_EQ(queue.pending_high_res_tasks(), 1);
  Task last = queue.TakeTop();
  EXPECT_TRUE(last.is_high_res);
  EXPECT_EQ(queue.pending_high_res_tasks(), 0);
}

class PushesWhenDestroyed;

class Target {
 public:
  void Run() {}
  void Take(PushesWhenDestroyed pusher);
  WeakPtr<Target> GetWeakPtr() { return factory_.GetWeakPtr(); }
  void Invalidate() { factory_.InvalidateWeakPtrs(); }

 private:
  WeakPtrFactory<Target> factory_{this};
};

TEST(DelayedIncomingQueueTest, SweepRemovesCancelledTasksAnywhere) {
  Target cancelled;
  Target alive;
  DelayedIncomingQueue queue;
  struct Posted {
    int64_t run_ms;
    bool high_res;
    Target* target;
  };
  const Posted posted[] = {{10, true, &cancelled}, {20, false, &alive},
                           {30, true, &cancelled}, {40, false, &cancelled},
                           {50, true, &alive},     {60, false, &alive}};
  EnqueueOrder sequence = 2;
  for (const Posted& p : posted) {
    queue.push(Task(
        PostedTask(nullptr, BindOneShot(&Target::Run, p.target->GetWeakPtr()),
                   FROM_HERE),
        At(p.run_ms), sequence++, kNoEnqueueOrder,
        p.high_res ? WakeUpResolution::kHigh : WakeUpResolution::kLow));
  }
  cancelled.Invalidate();

  int recorded = 0;
  EXPECT_EQ(queue.SweepCancelledTasks([&](const Task&) { ++recorded; }), 2u);
  EXPECT_EQ(recorded, 6);
  EXPECT_EQ(queue.size(), 3u);
  EXPECT_EQ(queue.pending_high_res_tasks(), 1);
  EXPECT_EQ(queue.top().delayed_run_time, At(20));
  EXPECT_EQ(PopAll(queue), (std::vector<int>{3, 6, 7}));
}

// Pushes a delayed task into `queue` when destroyed, as a bound argument
// of a task may do.
class PushesWhenDestroyed {
 public:
  explicit PushesWhenDestroyed(DelayedIncomingQueue* queue) : queue_(queue) {}
  PushesWhenDestroyed(PushesWhenDestroyed&& other) : queue_(other.queue_) {
    other.queue_ = nullptr;
  }
  ~PushesWhenDestroyed() {
    if (queue_) queue_->push(MakeDelayedTask(5, 100));
  }

 private:
  DelayedIncomingQueue* queue_;
};

void Target::Take(PushesWhenDestroyed pusher) {}

Task MakeTaskThatPushes(DelayedIncomingQueue* queue, int64_t run_ms,
                        EnqueueOrder sequence) {
  return Task(PostedTask(nullptr,
                         BindOneShot([](PushesWhenDestroyed) {},
                                     PushesWhenDestroyed(queue)),
                         FROM_HERE),
              At(run_ms), sequence);
}

TEST(DelayedIncomingQueueTest, ATaskDestroyedByPopMayPushIntoTheQueue) {
  DelayedIncomingQueue queue;
  queue.push(MakeTaskThatPushes(&queue, 10, 2));
  for (EnqueueOrder i = 3; i < 10; ++i) queue.push(MakeDelayedTask(20, i));
  queue.pop();
  EXPECT_EQ(queue.size(), 8u);
  EXPECT_EQ(PopAll(queue), (std::vector<int>{100, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(DelayedIncomingQueueTest, ATaskDestroyedBySweepMayPushIntoTheQueue) {
  DelayedIncomingQueue queue;
  Target target;
  queue.push(Task(PostedTask(nullptr,
                             BindOneShot(&Target::Take, target.GetWeakPtr(),
                                         PushesWhenDestroyed(&queue)),
                             FROM_HERE),
                  At(10), 2));
  queue.push(
      Task(PostedTask(nullptr, BindOneShot(&Target::Run, target.GetWeakPtr()),
                      FROM_HERE),
           At(20), 3));
  queue.push(MakeDelayedTask(30, 4));
  target.Invalidate();
  queue.SweepCancelledTasks([](const Task&) {});
  EXPECT_EQ(PopAll(queue), (std::vector<int>{100, 4}));
}

TEST(DelayedIncomingQueueTest, TaskDumps) {
  const MonotonicTime now = At(1000);
  Task immediate(PostedTask(nullptr, BindOneShot([] {}),
                            Location("Poster", "poster.cc", 12, nullptr),
                            Duration(), Nestable::kNonNestable),
                 MonotonicTime(), 7, 7);
  Value dump = TaskAsValue(immediate, now);
  EXPECT_EQ(*dump.FindStringKey("posted_from"), "Poster@poster.cc:12");
  EXPECT_EQ(dump.FindKey("enqueue_order")->GetInt(), 7);
  EXPECT_EQ(dump.FindKey("sequence_num")->GetInt(), 7);
  EXPECT_FALSE(dump.FindKey("nestable")->GetBool());
  EXPECT_FALSE(dump.FindKey("is_high_res")->GetBool());
  EXPECT_FALSE(dump.FindKey("is_cancelled")->GetBool());
  EXPECT_EQ(dump.FindKey("delayed_run_time")->GetDouble(), 0.0);
  EXPECT_EQ(dump.FindKey("delayed_run_time_milliseconds_from_now")->GetDouble(),
            0.0);

  DelayedIncomingQueue queue;
  queue.push(MakeDelayedTask(1250, 9, /*high_res=*/true));
  Value list = queue.AsValue(now);
  ASSERT_EQ(list.GetList().size(), 1u);
  const Value& delayed = list.GetList()[0];
  EXPECT_EQ(delayed.FindKey("enqueue_order"), nullptr);
  EXPECT_TRUE(delayed.FindKey("nestable")->GetBool());
  EXPECT_TRUE(delayed.FindKey("is_high_res")->GetBool());
  EXPECT_EQ(delayed.FindKey("delayed_run_time")->GetDouble(), 1250.0);
  EXPECT_EQ(
      delayed.FindKey("delayed_run_time_milliseconds_from_now")->GetDouble(),
      250.0);
}

}  // namespace
}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
