#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_WORK_QUEUE_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_WORK_QUEUE_H_

#include <cstddef>

#include "agent/base/task/sequence_manager/enqueue_order.h"
#include "agent/base/task/sequence_manager/task.h"
#include "agent/base/task/sequence_manager/task_deque.h"
#include "agent/base/time/time.h"
#include "agent/base/values.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

class TaskQueueImpl;
class WorkQueueSets;

// The runnable tasks of one task queue, in enqueue order: one work queue
// for immediate work (refilled by swapping in the queue's incoming deque)
// and one for delayed work that fell due. A work queue shows its front task
// to its work queue sets, which is how the selector sees it.
//
// A fence (an enqueue order) blocks the tasks at or after it; a blocked
// work queue looks empty to its sets.
//
// Manager's thread only.
class WorkQueue {
 public:
  enum class QueueType { kImmediate = 0, kDelayed = 1 };

  // Appends several tasks and tells the sets at most once, when the work
  // queue went from empty to showing a front task.
  class TaskPusher {
   public:
    TaskPusher(TaskPusher&& other);
    TaskPusher(const TaskPusher&) = delete;
    TaskPusher& operator=(const TaskPusher&) = delete;
    ~TaskPusher();

    void Push(Task task);

   private:
    friend class WorkQueue;
    explicit TaskPusher(WorkQueue* work_queue);

    WorkQueue* work_queue_;
    const bool was_empty_;
  };

  // `task_queue` owns this work queue; `name` is "delayed" or "immediate".
  WorkQueue(TaskQueueImpl* task_queue, const char* name, QueueType type);
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;
  ~WorkQueue();

  // The front task, or null.
  const Task* GetFrontTask() const { return tasks_.front(); }
  const Task* GetBackTask() const;

  // A fence is set and the queue is empty or its front is at or after it.
  bool BlockedByFence() const;

  // False when empty or blocked; otherwise the front's enqueue order.
  bool GetFrontTaskEnqueueOrder(EnqueueOrder* enqueue_order) const;

  TaskPusher CreateTaskPusher();

  // Gives a deferred non-nestable task back at the front.
  void PushNonNestableTaskToFront(Task task);

  // Swaps in the task queue's incoming tasks (immediate work queue, empty).
  void TakeImmediateIncomingQueueTasks();

  // Removes the front task and hands it over. This work queue must be the
  // top of its set's heap.
  Task TakeTaskFromWorkQueue();

  // Drops the cancelled tasks at the front; true when it dropped any.
  // The dropped tasks are destroyed after the sets are up to date.
  bool RemoveAllCanceledTasksFromFront();

  // Sets the fence (0 removes it). True when the front task became
  // unblocked by this.
  bool InsertFence(EnqueueOrder fence);
  // Sets the fence without telling the sets.
  void InsertFenceSilently(EnqueueOrder fence);
  bool RemoveFence() { return InsertFence(kNoEnqueueOrder); }

  void MaybeShrinkQueue() { tasks_.MaybeShrinkQueue(); }

  // The task dumps, front first.
  Value AsValue(MonotonicTime now) const;

  bool Empty() const { return tasks_.empty(); }
  size_t Size() const { return tasks_.size(); }
  size_t Capacity() const { return tasks_.capacity(); }
  const char* name() const { return name_; }
  QueueType queue_type() const { return queue_type_; }
  TaskQueueImpl* task_queue() const { return task_queue_; }
  WorkQueueSets* work_queue_sets() const { return work_queue_sets_; }
  size_t work_queue_set_index() const { return work_queue_set_index_; }
  int heap_handle() const { return heap_handle_; }
  EnqueueOrder fence() const { return fence_; }

  // Used by the sets.
  void AssignToWorkQueueSets(WorkQueueSets* work_queue_sets) {
    work_queue_sets_ = work_queue_sets;
  }
  void AssignSetIndex(size_t index) { work_queue_set_index_ = index; }
  void set_heap_handle(int handle) { heap_handle_ = handle; }

 private:
  // Called when the deque just became empty.
  void OnBecameEmpty();

  TaskDeque tasks_;
  WorkQueueSets* work_queue_sets_ = nullptr;
  TaskQueueImpl* const task_queue_;
  size_t work_queue_set_index_ = 0;
  int heap_handle_ = -1;
  const char* const name_;
  EnqueueOrder fence_ = kNoEnqueueOrder;
  const QueueType queue_type_;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_WORK_QUEUE_H_
