#include "agent/base/pending_task.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "agent/base/functional/bind.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

MonotonicTime At(int64_t us) {
  return MonotonicTime::FromInternalValue(us);
}

PendingTask Make(MonotonicTime run_time, int sequence_num) {
  PendingTask task(FROM_HERE, OneShotClosure(), At(1), run_time);
  task.sequence_num = sequence_num;
  return task;
}

TEST(PendingTaskTest, ConstructionZeroesTheRest) {
  bool ran = false;
  const Location here = FROM_HERE;
  PendingTask task(here, BindOneShot([](bool* ran) { *ran = true; }, &ran),
                   At(5), At(9));
  EXPECT_EQ(task.posted_from.program_counter(), here.program_counter());
  EXPECT_EQ(task.queue_time, At(5));
  EXPECT_EQ(task.delayed_run_time, At(9));
  for (const void* pc : task.task_backtrace)
    EXPECT_EQ(pc, nullptr);
  EXPECT_EQ(task.ipc_hash, 0u);
  EXPECT_EQ(task.ipc_interface_name, nullptr);
  EXPECT_EQ(task.sequence_num, 0);
  EXPECT_FALSE(task.task_backtrace_overflow);
  std::move(task.task).Run();
  EXPECT_TRUE(ran);
}

TEST(PendingTaskTest, MoveTransfersTheClosureAndCopiesTheRest) {
  PendingTask source(FROM_HERE, BindOneShot([] {}), At(5), At(9));
  source.sequence_num = 7;
  source.ipc_hash = 3;
  source.task_backtrace[0] = &source;
  PendingTask moved(std::move(source));
  EXPECT_FALSE(moved.task.is_null());
  EXPECT_TRUE(source.task.is_null());  // NOLINT: checking the moved-from.
  EXPECT_EQ(moved.sequence_num, 7);
  EXPECT_EQ(moved.ipc_hash, 3u);
  EXPECT_EQ(moved.delayed_run_time, At(9));
  EXPECT_EQ(moved.task_backtrace[0], &source);

  PendingTask assigned;
  assigned = std::move(moved);
  EXPECT_FALSE(assigned.task.is_null());
  EXPECT_EQ(assigned.sequence_num, 7);
}

TEST(PendingTaskTest, OrderingPutsTheTaskThatRunsFirstOnTopOfAMaxHeap) {
  struct Case {
    MonotonicTime a_time;
    int a_seq;
    MonotonicTime b_time;
    int b_seq;
    bool a_less_than_b;
  } cases[] = {
      {At(20), 0, At(10), 5, true},   // a runs later.
      {At(10), 5, At(20), 0, false},  // a runs sooner.
      {At(10), 6, At(10), 5, true},   // Same time: higher number later.
      {At(10), 5, At(10), 6, false},
      {At(10), 5, At(10), 5, false},
      {MonotonicTime(), 9, At(10), 0, false},  // Immediate runs first.
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Make(c.a_time, c.a_seq) < Make(c.b_time, c.b_seq),
              c.a_less_than_b)
        << c.a_time << "/" << c.a_seq << " vs " << c.b_time << "/" << c.b_seq;
  }

  std::vector<PendingTask> heap;
  heap.push_back(Make(At(30), 0));
  heap.push_back(Make(At(10), 2));
  heap.push_back(Make(At(10), 1));
  heap.push_back(Make(At(20), 3));
  std::make_heap(heap.begin(), heap.end());
  std::vector<int> order;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end());
    order.push_back(heap.back().sequence_num);
    heap.pop_back();
  }
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 0}));
}

}  // namespace
}  // namespace kelmbase
