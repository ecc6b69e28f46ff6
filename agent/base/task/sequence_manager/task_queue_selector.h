#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_QUEUE_SELECTOR_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_QUEUE_SELECTOR_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/sequence_manager/associated_thread_id.h"
#include "agent/base/task/sequence_manager/select_task_option.h"
#include "agent/base/task/sequence_manager/task_queue.h"
#include "agent/base/task/sequence_manager/work_queue_sets.h"
#include "agent/base/values.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

class TaskQueueImpl;
class WorkQueue;

// Decides which work queue's front task runs next: the most urgent
// priority with work wins; within it the older of the oldest delayed and the
// oldest immediate front task, except that after three delayed picks in a
// row that passed over waiting immediate work of that priority, immediate
// work goes first.
//
// Manager's thread only.
class TaskQueueSelector : public WorkQueueSets::Observer {
 public:
  // Consecutive delayed picks over waiting immediate work before immediate
  // work is taken first.
  static constexpr uint64_t kMaxDelayedStarvationTasks = 3;

  // Told when a queue that was disabled is enabled again.
  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void OnTaskQueueEnabled(TaskQueueImpl* queue) = 0;
  };

  explicit TaskQueueSelector(
      scoped_refptr<AssociatedThreadId> associated_thread);
  TaskQueueSelector(const TaskQueueSelector&) = delete;
  TaskQueueSelector& operator=(const TaskQueueSelector&) = delete;
  ~TaskQueueSelector() override;

  // Both work queues of `queue` join the sets at normal priority.
  void AddQueue(TaskQueueImpl* queue);
  // Both leave them (only an enabled queue is in them).
  void RemoveQueue(TaskQueueImpl* queue);

  // The work queue whose front task should run next, or null.
  WorkQueue* SelectWorkQueueToService(
      SelectTaskOption option = SelectTaskOption::kDefault);

  // The most urgent priority with eligible work, if any.
  std::optional<TaskQueue::QueuePriority> GetHighestPendingPriority(
      SelectTaskOption option = SelectTaskOption::kDefault) const;

  void SetTaskQueueSelectorObserver(Observer* observer) {
    task_queue_selector_observer_ = observer;
  }
  Observer* task_queue_selector_observer() const {
    return task_queue_selector_observer_;
  }

  // {"immediate_starvation_count": n}.
  Value AsValue() const;

  // WorkQueueSets::Observer:
  void WorkQueueSetBecameEmpty(size_t set_index) override;
  void WorkQueueSetBecameNonEmpty(size_t set_index) override;

  WorkQueueSets* delayed_work_queue_sets() { return &delayed_work_queue_sets_; }
  WorkQueueSets* immediate_work_queue_sets() {
    return &immediate_work_queue_sets_;
  }
  uint64_t immediate_starvation_count() const {
    return immediate_starvation_count_;
  }

 private:
  WorkQueue* ChooseWithPriority(size_t priority);

  const scoped_refptr<AssociatedThreadId> associated_thread_;
  std::array<int32_t, TaskQueue::kQueuePriorityCount> non_empty_set_counts_ =
      {};
  // Bit p: priority p has work in either set.
  uint64_t active_priorities_ = 0;
  WorkQueueSets delayed_work_queue_sets_;
  WorkQueueSets immediate_work_queue_sets_;
  uint64_t immediate_starvation_count_ = 0;
  Observer* task_queue_selector_observer_ = nullptr;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_QUEUE_SELECTOR_H_
