#include "agent/base/task/sequence_manager/task_queue_selector.h"

#include <bit>
#include <utility>

#include "agent/base/task/sequence_manager/task_queue_impl.h"
#include "agent/base/task/sequence_manager/work_queue.h"
#include "logging/check.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

TaskQueueSelector::TaskQueueSelector(
    scoped_refptr<AssociatedThreadId> associated_thread)
    : associated_thread_(std::move(associated_thread)),
      delayed_work_queue_sets_("delayed", this),
      immediate_work_queue_sets_("immediate", this) {}

TaskQueueSelector::~TaskQueueSelector() = default;

void TaskQueueSelector::AddQueue(TaskQueueImpl* queue) {
  delayed_work_queue_sets_.AddQueue(queue->delayed_work_queue(),
                                    TaskQueue::kNormalPriority);
  immediate_work_queue_sets_.AddQueue(queue->immediate_work_queue(),
                                      TaskQueue::kNormalPriority);
}

void TaskQueueSelector::RemoveQueue(TaskQueueImpl* queue) {
  if (!queue->IsQueueEnabled()) return;
  delayed_work_queue_sets_.RemoveQueue(queue->delayed_work_queue());
  immediate_work_queue_sets_.RemoveQueue(queue->immediate_work_queue());
}

std::optional<TaskQueue::QueuePriority>
TaskQueueSelector::GetHighestPendingPriority(SelectTaskOption option) const {
  if (active_priorities_ == 0) return std::nullopt;
  const size_t highest =
      static_cast<size_t>(std::countr_zero(active_priorities_));
  if (option == SelectTaskOption::kDefault)
    return static_cast<TaskQueue::QueuePriority>(highest);
  for (size_t priority = highest; priority < TaskQueue::kQueuePriorityCount;
       ++priority) {
    if ((active_priorities_ & (uint64_t{1} << priority)) &&
        !immediate_work_queue_sets_.IsSetEmpty(priority)) {
      return static_cast<TaskQueue::QueuePriority>(priority);
    }
  }
  return std::nullopt;
}

WorkQueue* TaskQueueSelector::ChooseWithPriority(size_t priority) {
  if (immediate_starvation_count_ >= kMaxDelayedStarvationTasks) {
    if (WorkQueue* immediate =
            immediate_work_queue_sets_.GetOldestQueueInSet(priority)) {
      return immediate;
    }
    return delayed_work_queue_sets_.GetOldestQueueInSet(priority);
  }
  EnqueueOrder immediate_order;
  WorkQueue* immediate =
      immediate_work_queue_sets_.GetOldestQueueAndEnqueueOrderInSet(
          priority, &immediate_order);
  if (!immediate) return delayed_work_queue_sets_.GetOldestQueueInSet(priority);
  EnqueueOrder delayed_order;
  WorkQueue* delayed =
      delayed_work_queue_sets_.GetOldestQueueAndEnqueueOrderInSet(
          priority, &delayed_order);
  // Immediate work wins only when its front task is strictly older.
  if (delayed && immediate_order >= delayed_order) return delayed;
  return immediate;
}

WorkQueue* TaskQueueSelector::SelectWorkQueueToService(
    SelectTaskOption option) {
  const std::optional<TaskQueue::QueuePriority> priority =
      GetHighestPendingPriority(option);
  if (!priority) return nullptr;
  if (option == SelectTaskOption::kSkipDelayedTask)
    return immediate_work_queue_sets_.GetOldestQueueInSet(*priority);

  WorkQueue* chosen = ChooseWithPriority(*priority);
  if (chosen->queue_type() == WorkQueue::QueueType::kDelayed &&
      !immediate_work_queue_sets_.IsSetEmpty(*priority)) {
    ++immediate_starvation_count_;
  } else {
    immediate_starvation_count_ = 0;
  }
  return chosen;
}

void TaskQueueSelector::WorkQueueSetBecameEmpty(size_t set_index) {
  CHECK(non_empty_set_counts_[set_index] > 0);
  if (--non_empty_set_counts_[set_index] == 0)
    active_priorities_ &= ~(uint64_t{1} << set_index);
}

void TaskQueueSelector::WorkQueueSetBecameNonEmpty(size_t set_index) {
  if (non_empty_set_counts_[set_index]++ == 0)
    active_priorities_ |= uint64_t{1} << set_index;
}

Value TaskQueueSelector::AsValue() const {
  Value state(Value::Type::DICTIONARY);
  state.SetIntKey("immediate_starvation_count",
                  static_cast<int>(immediate_starvation_count_));
  return state;
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
