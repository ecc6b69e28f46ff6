#include "agent/base/task/sequence_manager/task_queue_selector.h"

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/memory/weak_ptr.h"
#include "agent/base/task/sequence_manager/task_queue_impl.h"
#include "agent/base/task/sequence_manager/work_queue.h"
#include "agent/base/task/sequence_manager/work_queue_sets.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {
namespace {

Task MakeTask(EnqueueOrder order) {
  return Task(PostedTask(nullptr, BindOneShot([] {}), FROM_HERE),
              MonotonicTime(), order, order);
}

void Push(WorkQueue* work_queue, EnqueueOrder order) {
  WorkQueue::TaskPusher pusher = work_queue->CreateTaskPusher();
  pusher.Push(MakeTask(order));
}

// Task queues without a manager, whose work queues the tests fill directly
// and place into the selector's sets at chosen priorities.
class TaskQueueSelectorTest : public testing::Test {
 protected:
  TaskQueueImpl* NewQueue() {
    queues_.push_back(std::make_unique<TaskQueueImpl>(nullptr, nullptr,
                                                      TaskQueue::Spec("test")));
    return queues_.back().get();
  }

  // A queue whose work queues sit at `priority`.
  TaskQueueImpl* NewQueueAt(size_t priority) {
    TaskQueueImpl* queue = NewQueue();
    selector_.delayed_work_queue_sets()->AddQueue(queue->delayed_work_queue(),
                                                  priority);
    selector_.immediate_work_queue_sets()->AddQueue(
        queue->immediate_work_queue(), priority);
    return queue;
  }

  // Selects and takes the front task; "I<order>" or "D<order>", or "none".
  std::string SelectAndTake(
      SelectTaskOption option = SelectTaskOption::kDefault) {
    WorkQueue* work_queue = selector_.SelectWorkQueueToService(option);
    if (!work_queue) return "none";
    Task task = work_queue->TakeTaskFromWorkQueue();
    return (work_queue->queue_type() == WorkQueue::QueueType::kDelayed ? "D"
                                                                       : "I") +
           std::to_string(task.enqueue_order());
  }

  TaskQueueSelector selector_{AssociatedThreadId::CreateBound()};
  // Declared after the selector: destroyed first, leaving the sets.
  struct Remover {
    TaskQueueSelector* selector;
    std::vector<std::unique_ptr<TaskQueueImpl>>* queues;
    ~Remover() {
      for (auto& queue : *queues) {
        if (queue->delayed_work_queue()->work_queue_sets())
          queue->delayed_work_queue()->work_queue_sets()->RemoveQueue(
              queue->delayed_work_queue());
        if (queue->immediate_work_queue()->work_queue_sets())
          queue->immediate_work_queue()->work_queue_sets()->RemoveQueue(
              queue->immediate_work_queue());
      }
    }
  };
  std::vector<std::unique_ptr<TaskQueueImpl>> queues_;
  Remover remover_{&selector_, &queues_};
};

TEST_F(TaskQueueSelectorTest, NothingToSelectWithoutWork) {
  NewQueueAt(TaskQueue::kNormalPriority);
  EXPECT_FALSE(selector_.GetHighestPendingPriority());
  EXPECT_EQ(selector_.SelectWorkQueueToService(), nullptr);
}

TEST_F(TaskQueueSelectorTest, MoreUrgentPriorityWinsRegardlessOfAge) {
  TaskQueueImpl* normal = NewQueueAt(TaskQueue::kNormalPriority);
  TaskQueueImpl* highest = NewQueueAt(TaskQueue::kHighestPriority);
  TaskQueueImpl* low = NewQueueAt(TaskQueue::kLowPriority);
  Push(normal->immediate_work_queue(), 2);
  Push(low->delayed_work_queue(), 3);
  Push(highest->delayed_work_queue(), 9);
  EXPECT_EQ(selector_.GetHighestPendingPriority(), TaskQueue::kHighestPriority);
  EXPECT_EQ(SelectAndTake(), "D9");
  EXPECT_EQ(SelectAndTake(), "I2");
  EXPECT_EQ(SelectAndTake(), "D3");
  EXPECT_EQ(SelectAndTake(), "none");
  // Both sets left every priority: the bitmap is clear again.
  EXPECT_FALSE(selector_.GetHighestPendingPriority());
}

TEST_F(TaskQueueSelectorTest, WithinAPriorityTheOlderFrontTaskWins) {
  struct Case {
    EnqueueOrder immediate;
    EnqueueOrder delayed;
    const char* expected_first;
  };
  const Case cases[] = {{4, 7, "I4"}, {7, 4, "D4"}};
  for (const Case& c : cases) {
    TaskQueueImpl* a = NewQueueAt(TaskQueue::kNormalPriority);
    TaskQueueImpl* b = NewQueueAt(TaskQueue::kNormalPriority);
    Push(a->immediate_work_queue(), c.immediate);
    Push(b->delayed_work_queue(), c.delayed);
    EXPECT_EQ(SelectAndTake(), c.expected_first);
    SelectAndTake();
    EXPECT_EQ(SelectAndTake(), "none");
  }
}

TEST_F(TaskQueueSelectorTest, ImmediateWorkRunsAfterThreeDelayedPicksOverIt) {
  TaskQueueImpl* queue = NewQueueAt(TaskQueue::kNormalPriority);
  for (EnqueueOrder order = 2; order < 10; ++order)
    Push(queue->delayed_work_queue(), order);
  Push(queue->immediate_work_queue(), 100);
  Push(queue->immediate_work_queue(), 101);
  std::vector<std::string> picks;
  for (int i = 0; i < 10; ++i) picks.push_back(SelectAndTake());
  EXPECT_EQ(picks, (std::vector<std::string>{"D2", "D3", "D4", "I100", "D5",
                                             "D6", "D7", "I101", "D8", "D9"}));
  EXPECT_EQ(selector_.immediate_starvation_count(), 0u);
}

TEST_F(TaskQueueSelectorTest,
       DelayedPicksWithoutWaitingImmediateWorkDoNotCount) {
  TaskQueueImpl* queue = NewQueueAt(TaskQueue::kNormalPriority);
  for (EnqueueOrder order = 2; order < 6; ++order)
    Push(queue->delayed_work_queue(), order);
  for (int i = 0; i < 4; ++i) SelectAndTake();
  EXPECT_EQ(selector_.immediate_starvation_count(), 0u);
  EXPECT_EQ(selector_.AsValue().FindKey("immediate_starvation_count")->GetInt(),
            0);
}

TEST_F(TaskQueueSelectorTest, SkipDelayedPassesPrioritiesWithOnlyDelayedWork) {
  TaskQueueImpl* urgent = NewQueueAt(TaskQueue::kHighestPriority);
  TaskQueueImpl* low = NewQueueAt(TaskQueue::kLowPriority);
  Push(urgent->delayed_work_queue(), 2);
  EXPECT_FALSE(
      selector_.GetHighestPendingPriority(SelectTaskOption::kSkipDelayedTask));
  EXPECT_EQ(SelectAndTake(SelectTaskOption::kSkipDelayedTask), "none");

  Push(low->immediate_work_queue(), 3);
  EXPECT_EQ(
      selector_.GetHighestPendingPriority(SelectTaskOption::kSkipDelayedTask),
      TaskQueue::kLowPriority);
  EXPECT_EQ(selector_.GetHighestPendingPriority(), TaskQueue::kHighestPriority);
  EXPECT_EQ(SelectAndTake(SelectTaskOption::kSkipDelayedTask), "I3");
  EXPECT_EQ(SelectAndTake(), "D2");
}

TEST_F(TaskQueueSelectorTest, PriorityNames) {
  const char* const names[] = {"control", "highest", "very_high",  "high",
                               "normal",  "low",     "best_effort"};
  for (int p = 0; p < 7; ++p) {
    EXPECT_STREQ(
        TaskQueue::PriorityToString(static_cast<TaskQueue::QueuePriority>(p)),
        names[p]);
  }
  EXPECT_EQ(
      TaskQueue::PriorityToString(static_cast<TaskQueue::QueuePriority>(7)),
      nullptr);
  EXPECT_EQ(
      TaskQueue::PriorityToString(static_cast<TaskQueue::QueuePriority>(200)),
      nullptr);
}

TEST_F(TaskQueueSelectorTest, FencesHideWorkFromTheSets) {
  TaskQueueImpl* queue = NewQueueAt(TaskQueue::kNormalPriority);
  WorkQueue* work_queue = queue->immediate_work_queue();
  Push(work_queue, 5);
  Push(work_queue, 8);
  EnqueueOrder order = 0;

  // A fence at or below the front's order blocks the work queue.
  EXPECT_FALSE(work_queue->InsertFence(5));
  EXPECT_TRUE(work_queue->BlockedByFence());
  EXPECT_FALSE(work_queue->GetFrontTaskEnqueueOrder(&order));
  EXPECT_EQ(work_queue->heap_handle(), -1);
  EXPECT_EQ(selector_.SelectWorkQueueToService(), nullptr);

  // A later fence lets the front through again.
  EXPECT_TRUE(work_queue->InsertFence(6));
  EXPECT_TRUE(work_queue->GetFrontTaskEnqueueOrder(&order));
  EXPECT_EQ(order, 5u);
  EXPECT_EQ(SelectAndTake(), "I5");
  // Task 8 is behind the fence.
  EXPECT_EQ(SelectAndTake(), "none");
  // Removing the fence (0) releases it.
  EXPECT_TRUE(work_queue->RemoveFence());
  EXPECT_EQ(SelectAndTake(), "I8");

  // The blocking fence blocks everything.
  Push(work_queue, 9);
  EXPECT_FALSE(work_queue->InsertFence(kBlockingFence));
  EXPECT_EQ(SelectAndTake(), "none");
  EXPECT_TRUE(work_queue->InsertFence(kNoEnqueueOrder));
  EXPECT_EQ(SelectAndTake(), "I9");
}

TEST_F(TaskQueueSelectorTest,
       ANonNestableTaskPushedBackToTheFrontReKeysItsQueue) {
  TaskQueueImpl* a = NewQueueAt(TaskQueue::kNormalPriority);
  TaskQueueImpl* b = NewQueueAt(TaskQueue::kNormalPriority);
  Push(a->immediate_work_queue(), 10);
  Push(b->immediate_work_queue(), 8);
  EXPECT_EQ(selector_.SelectWorkQueueToService(), b->immediate_work_queue());
  a->immediate_work_queue()->PushNonNestableTaskToFront(MakeTask(5));
  EXPECT_EQ(selector_.SelectWorkQueueToService(), a->immediate_work_queue());
  EXPECT_EQ(SelectAndTake(), "I5");
  EXPECT_EQ(SelectAndTake(), "I8");
  EXPECT_EQ(SelectAndTake(), "I10");
}

TEST_F(TaskQueueSelectorTest, CancelledFrontTasksAreDroppedOnlyWithSets) {
  struct Target {
    void Run() {}
    WeakPtrFactory<Target> factory{this};
  } target;
  TaskQueueImpl* loose = NewQueue();
  WorkQueue* work_queue = loose->delayed_work_queue();
  {
    WorkQueue::TaskPusher pusher = work_queue->CreateTaskPusher();
    pusher.Push(
        Task(PostedTask(nullptr,
                        BindOneShot(&Target::Run, target.factory.GetWeakPtr()),
                        FROM_HERE),
             MonotonicTime(), 2, 2));
    pusher.Push(MakeTask(3));
  }
  target.factory.InvalidateWeakPtrs();
  EXPECT_FALSE(work_queue->RemoveAllCanceledTasksFromFront());
  EXPECT_EQ(work_queue->Size(), 2u);

  selector_.delayed_work_queue_sets()->AddQueue(work_queue,
                                                TaskQueue::kNormalPriority);
  EXPECT_TRUE(work_queue->RemoveAllCanceledTasksFromFront());
  EXPECT_EQ(work_queue->Size(), 1u);
  EXPECT_FALSE(work_queue->RemoveAllCanceledTasksFromFront());
  EXPECT_EQ(SelectAndTake(), "D3");
}

// The per-priority heaps against a plain scan, over many random changes of
// membership and front tasks.
class RecordingObserver : public WorkQueueSets::Observer {
 public:
  void WorkQueueSetBecameEmpty(size_t set_index) override {
    non_empty[set_index] = false;
  }
  void WorkQueueSetBecameNonEmpty(size_t set_index) override {
    non_empty[set_index] = true;
  }
  bool non_empty[WorkQueueSets::kNumSets] = {};
};

TEST(WorkQueueSetsTest, HeapsAgreeWithAScan) {
  RecordingObserver observer;
  std::vector<std::unique_ptr<TaskQueueImpl>> queues;
  std::vector<WorkQueue*> work_queues;
  for (int i = 0; i < 24; ++i) {
    queues.push_back(std::make_unique<TaskQueueImpl>(nullptr, nullptr,
                                                     TaskQueue::Spec("q")));
    work_queues.push_back(queues.back()->delayed_work_queue());
  }
  {
    WorkQueueSets sets("delayed", &observer);
    std::mt19937 random(7);
    EnqueueOrder next_order = 2;
    for (size_t i = 0; i < work_queues.size(); ++i)
      sets.AddQueue(work_queues[i], i % 2 ? 4 : 1);
    for (int step = 0; step < 3000; ++step) {
      WorkQueue* work_queue = work_queues[random() % work_queues.size()];
      switch (random() % 4) {
        case 0:
        case 1:
          Push(work_queue, next_order++);
          break;
        case 2:
          if (work_queue->heap_handle() == 0)
            work_queue->TakeTaskFromWorkQueue();
          break;
        case 3:
          if (!work_queue->Empty())
            work_queue->PushNonNestableTaskToFront(MakeTask(next_order++));
          break;
      }
      for (size_t set : {size_t{1}, size_t{4}}) {
        WorkQueue* expected = nullptr;
        EnqueueOrder best = 0;
        for (WorkQueue* candidate : work_queues) {
          EnqueueOrder order;
          if (candidate->work_queue_set_index() != set ||
              !candidate->GetFrontTaskEnqueueOrder(&order)) {
            continue;
          }
          if (!expected || order < best) {
            expected = candidate;
            best = order;
          }
        }
        ASSERT_EQ(sets.GetOldestQueueInSet(set), expected) << "step " << step;
        ASSERT_EQ(observer.non_empty[set], expected != nullptr);
      }
    }
    for (WorkQueue* work_queue : work_queues) sets.RemoveQueue(work_queue);
    EXPECT_FALSE(observer.non_empty[1]);
    EXPECT_FALSE(observer.non_empty[4]);
  }
  for (WorkQueue* work_queue : work_queues)
    EXPECT_EQ(work_queue->heap_handle(), -1);
}

}  // namespace
}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
