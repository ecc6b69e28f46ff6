#include "agent/base/task/sequence_manager/delayed_incoming_queue.h"

#include <utility>

#include "agent/base/task/sequence_manager/enqueue_order.h"
#include "logging/check.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

DelayedIncomingQueue::DelayedIncomingQueue() = default;

DelayedIncomingQueue::~DelayedIncomingQueue() { clear(); }

// static
bool DelayedIncomingQueue::RunsAfter(const Task& a, const Task& b) {
  if (a.delayed_run_time != b.delayed_run_time)
    return a.delayed_run_time > b.delayed_run_time;
  return SequenceNumberIsEarlier(b.sequence_num, a.sequence_num);
}

void DelayedIncomingQueue::push(Task task) {
  if (task.is_high_res) ++pending_high_res_tasks_;
  heap_.push_back(std::move(task));
  std::push_heap(heap_.begin(), heap_.end(), Compare());
}

Task DelayedIncomingQueue::TakeTop() {
  CHECK(!heap_.empty());
  if (heap_.front().is_high_res) --pending_high_res_tasks_;
  std::pop_heap(heap_.begin(), heap_.end(), Compare());
  Task task = std::move(heap_.back());
  heap_.pop_back();
  return task;
}

void DelayedIncomingQueue::pop() {
  // Destroyed on return, once the heap is whole again.
  Task doomed = TakeTop();
}

void DelayedIncomingQueue::clear() {
  std::vector<Task> doomed;
  doomed.swap(heap_);
  pending_high_res_tasks_ = 0;
}

void DelayedIncomingQueue::swap(DelayedIncomingQueue& other) {
  heap_.swap(other.heap_);
  std::swap(pending_high_res_tasks_, other.pending_high_res_tasks_);
}

Value DelayedIncomingQueue::AsValue(MonotonicTime now) const {
  Value state(Value::Type::LIST);
  for (const Task& task : heap_) state.Append(TaskAsValue(task, now));
  return state;
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
