#include "agent/base/task/sequence_manager/task_deque.h"

#include <vector>

#include "agent/base/functional/bind.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {
namespace {

// A task whose sequence number identifies it.
Task MakeTask(int id) {
  Task task(PostedTask(nullptr, BindOneShot([] {}), FROM_HERE), MonotonicTime(),
            static_cast<EnqueueOrder>(id), static_cast<EnqueueOrder>(id));
  return task;
}

std::vector<int> PopAll(TaskDeque& deque) {
  std::vector<int> ids;
  while (!deque.empty()) {
    ids.push_back(deque.front()->sequence_num);
    deque.pop_front();
  }
  return ids;
}

std::vector<int> Range(int first, int last) {
  std::vector<int> ids;
  for (int i = first; i <= last; ++i) ids.push_back(i);
  return ids;
}

MonotonicTime At(int64_t seconds) {
  return MonotonicTime() + Duration::FromSeconds(1000 + seconds);
}

// Appending a finished task and building one in place at the back grow
// the deque alike.
void AppendByPush(TaskDeque& deque, int id) { deque.push_back(MakeTask(id)); }

void AppendByEmplace(TaskDeque& deque, int id) {
  Task& task = deque.emplace_back(
      PostedTask(nullptr, BindOneShot([] {}), FROM_HERE), MonotonicTime(),
      static_cast<EnqueueOrder>(id), static_cast<EnqueueOrder>(id));
  EXPECT_EQ(&task, deque.back());
}

TEST(TaskDequeTest, GrowsByRingsOfOneAndAHalfPlusTwo) {
  for (void (*append)(TaskDeque&, int) : {&AppendByPush, &AppendByEmplace}) {
    SCOPED_TRACE(append == &AppendByPush ? "push_back" : "emplace_back");
    TaskDeque deque;
    EXPECT_EQ(deque.capacity(), 0u);
    EXPECT_EQ(deque.front(), nullptr);
    // A ring of n slots holds n - 1 tasks: 4 (3 tasks), 8 (7), 14 (13), 23.
    struct Step {
      int tasks;
      size_t capacity;
    };
    const Step steps[] = {{1, 4},   {3, 4},   {4, 12}, {10, 12},
                          {11, 26}, {23, 26}, {24, 49}};
    int pushed = 0;
    for (const Step& step : steps) {
      while (pushed < step.tasks) append(deque, ++pushed);
      EXPECT_EQ(deque.capacity(), step.capacity) << step.tasks << " tasks";
      EXPECT_EQ(deque.size(), static_cast<size_t>(step.tasks));
    }
    EXPECT_EQ(deque.back()->sequence_num, 24);
    EXPECT_EQ(PopAll(deque), Range(1, 24));
    // The emptied rings went back except the last one, kept for reuse.
    EXPECT_EQ(deque.capacity(), 23u);
  }
}

TEST(TaskDequeTest, PushFrontOntoAFullHeadAddsASmallRingInFront) {
  TaskDeque deque;
  deque.push_front(MakeTask(3));
  deque.push_back(MakeTask(4));
  deque.push_front(MakeTask(2));
  EXPECT_EQ(deque.capacity(), 4u);
  deque.push_front(MakeTask(1));
  EXPECT_EQ(deque.capacity(), 8u);
  deque.push_back(MakeTask(5));
  EXPECT_EQ(PopAll(deque), Range(1, 5));
}

TEST(TaskDequeTest, ForEachVisitsFrontToBackAcrossRings) {
  TaskDeque deque;
  for (int i = 3; i <= 12; ++i) deque.push_back(MakeTask(i));
  deque.push_front(MakeTask(2));
  deque.push_front(MakeTask(1));
  std::vector<int> seen;
  deque.ForEach([&](const Task& task) { seen.push_back(task.sequence_num); });
  EXPECT_EQ(seen, Range(1, 12));
}

TEST(TaskDequeTest, SwapExchangesContents) {
  TaskDeque a;
  TaskDeque b;
  for (int i = 1; i <= 5; ++i) a.push_back(MakeTask(i));
  b.push_back(MakeTask(9));
  a.swap(b);
  EXPECT_EQ(PopAll(a), std::vector<int>{9});
  EXPECT_EQ(PopAll(b), Range(1, 5));
}

// A deque that held 100 tasks and is empty now keeps only its last ring of
// 56 slots. The first check computes max(100 + 1, 4) = 101 slots, which would
// not free anything (101 + 16 >= 56), so nothing happens; it only resets the
// recorded maximum, and the next check shrinks to the minimum ring.
TEST(TaskDequeTest, ShrinkFollowsTheRecordedMaximum) {
  TaskDeque deque;
  for (int i = 1; i <= 100; ++i) deque.push_back(MakeTask(i));
  EXPECT_EQ(PopAll(deque), Range(1, 100));
  EXPECT_EQ(deque.capacity(), 56u);

  deque.MaybeShrinkQueueAt(At(0));
  EXPECT_EQ(deque.capacity(), 56u);
  deque.MaybeShrinkQueueAt(At(0));
  EXPECT_EQ(deque.capacity(), 4u);
}

TEST(TaskDequeTest, ShrinkRunsAtMostOncePerFiveSeconds) {
  TaskDeque deque;
  for (int i = 1; i <= 10; ++i) deque.push_back(MakeTask(i));
  deque.SetCapacity(100);
  EXPECT_EQ(deque.capacity(), 100u);
  deque.MaybeShrinkQueueAt(At(0));
  EXPECT_EQ(deque.capacity(), 11u);  // max size 10, plus one.

  // Grow, then drop back: worth shrinking, but not yet allowed.
  for (int i = 11; i <= 60; ++i) deque.push_back(MakeTask(i));
  for (int i = 1; i <= 58; ++i) deque.pop_front();
  const size_t grown = deque.capacity();
  deque.MaybeShrinkQueueAt(At(4));
  EXPECT_EQ(deque.capacity(), grown);

  // The maximum seen since the last check (60) still sets the target.
  deque.MaybeShrinkQueueAt(At(5));
  EXPECT_EQ(deque.capacity(), grown);
  deque.MaybeShrinkQueueAt(At(5));
  EXPECT_EQ(deque.capacity(), 4u);
  EXPECT_EQ(PopAll(deque), Range(59, 60));
}

TEST(TaskDequeTest, ShrinkOfADequeThatNeverHeldATaskDoesNothing) {
  TaskDeque deque;
  deque.MaybeShrinkQueue();
  EXPECT_EQ(deque.capacity(), 0u);
}

// Destroying a task can run any code, here a bound argument's destructor
// that pushes onto the same deque. The deque must be consistent by then.
class PushesWhenDestroyed {
 public:
  PushesWhenDestroyed(TaskDeque* deque, int id) : deque_(deque), id_(id) {}
  PushesWhenDestroyed(PushesWhenDestroyed&& other)
      : deque_(other.deque_), id_(other.id_) {
    other.deque_ = nullptr;
  }
  ~PushesWhenDestroyed() {
    if (deque_) deque_->push_back(MakeTask(id_));
  }

 private:
  TaskDeque* deque_;
  int id_;
};

TEST(TaskDequeTest, ATaskDestroyedByPopFrontMayPushOntoTheDeque) {
  TaskDeque deque;
  // Three tasks fill the first ring; popping the first destroys it while
  // its destructor pushes a fourth, which needs a new ring.
  deque.push_back(Task(PostedTask(nullptr,
                                  BindOneShot([](PushesWhenDestroyed) {},
                                              PushesWhenDestroyed(&deque, 4)),
                                  FROM_HERE),
                       MonotonicTime(), 1, 1));
  deque.push_back(MakeTask(2));
  deque.push_back(MakeTask(3));
  deque.pop_front();
  EXPECT_EQ(PopAll(deque), Range(2, 4));
}

TEST(TaskDequeTest, ATaskDestroyedByClearMayPushOntoTheDeque) {
  TaskDeque deque;
  deque.push_back(Task(PostedTask(nullptr,
                                  BindOneShot([](PushesWhenDestroyed) {},
                                              PushesWhenDestroyed(&deque, 7)),
                                  FROM_HERE),
                       MonotonicTime(), 1, 1));
  deque.push_back(MakeTask(2));
  deque.clear();
  EXPECT_EQ(PopAll(deque), std::vector<int>{7});
}

}  // namespace
}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
