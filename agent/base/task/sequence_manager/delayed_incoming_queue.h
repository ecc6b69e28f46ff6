#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_DELAYED_INCOMING_QUEUE_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_DELAYED_INCOMING_QUEUE_H_

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <vector>

#include "agent/base/task/sequence_manager/task.h"
#include "agent/base/time/time.h"
#include "agent/base/values.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// The delayed tasks of one task queue that are not yet due, as a heap whose
// top is the task to run first: the earliest run time, ties broken by the
// earlier sequence number (also across the wrap of the 32-bit numbers).
// Also counts the pending high-resolution tasks. Manager's thread only.
//
// Tasks leave the heap before they are destroyed, so a destructor that
// posts back into this queue finds it consistent.
class DelayedIncomingQueue {
 public:
  DelayedIncomingQueue();
  DelayedIncomingQueue(const DelayedIncomingQueue&) = delete;
  DelayedIncomingQueue& operator=(const DelayedIncomingQueue&) = delete;
  ~DelayedIncomingQueue();

  void push(Task task);

  // The task to run first. Not empty.
  const Task& top() const { return heap_.front(); }
  Task& top() { return heap_.front(); }

  // Removes the top task and hands it over. Not empty.
  Task TakeTop();
  // Removes the top task and destroys it once the heap is whole again.
  void pop();

  bool empty() const { return heap_.empty(); }
  size_t size() const { return heap_.size(); }

  // Removes every task, destroying them after the queue is empty.
  void clear();

  void swap(DelayedIncomingQueue& other);

  int pending_high_res_tasks() const { return pending_high_res_tasks_; }

  // Removes every cancelled or empty task wherever it is, after showing
  // each task to `record(const Task&)` (the crash-key hook). Lowers the
  // high-resolution count by, and returns, the number of high-resolution
  // tasks removed. The removed tasks are destroyed last.
  template <typename RecordFn>
  size_t SweepCancelledTasks(RecordFn&& record);

  // A list of the task dumps, in storage order.
  Value AsValue(MonotonicTime now) const;

  // True when `a` runs after `b` (the heap's "less").
  static bool RunsAfter(const Task& a, const Task& b);

 private:
  struct Compare {
    bool operator()(const Task& a, const Task& b) const {
      return RunsAfter(a, b);
    }
  };

  std::vector<Task> heap_;
  int pending_high_res_tasks_ = 0;
};

template <typename RecordFn>
size_t DelayedIncomingQueue::SweepCancelledTasks(RecordFn&& record) {
  for (const Task& task : heap_) record(task);
  auto removed_begin = std::stable_partition(
      heap_.begin(), heap_.end(),
      [](const Task& task) { return !task.IsCancelledOrEmpty(); });
  std::vector<Task> removed(std::make_move_iterator(removed_begin),
                            std::make_move_iterator(heap_.end()));
  heap_.erase(removed_begin, heap_.end());
  std::make_heap(heap_.begin(), heap_.end(), Compare());
  size_t high_res_removed = 0;
  for (const Task& task : removed)
    if (task.is_high_res) ++high_res_removed;
  pending_high_res_tasks_ -= static_cast<int>(high_res_removed);
  removed.clear();
  return high_res_removed;
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_DELAYED_INCOMING_QUEUE_H_
