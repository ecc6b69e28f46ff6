#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_WORK_QUEUE_SETS_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_WORK_QUEUE_SETS_H_

#include <cstddef>
#include <vector>

#include "agent/base/task/sequence_manager/enqueue_order.h"
#include "agent/base/task/sequence_manager/task_queue.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

class WorkQueue;

// The work queues of one kind (delayed or immediate), per priority, each
// priority a min-heap on the enqueue order of the front task. A work queue
// is in the heap of its priority exactly when it belongs to these sets, has
// a front task and is not blocked by a fence. Each work queue records its
// index in the heap (its heap handle), so erasing needs no search.
//
// Manager's thread only.
class WorkQueueSets {
 public:
  static constexpr size_t kNumSets = TaskQueue::kQueuePriorityCount;

  // Told when a priority's heap becomes empty or non-empty.
  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void WorkQueueSetBecameEmpty(size_t set_index) = 0;
    virtual void WorkQueueSetBecameNonEmpty(size_t set_index) = 0;
  };

  WorkQueueSets(const char* name, Observer* observer);
  WorkQueueSets(const WorkQueueSets&) = delete;
  WorkQueueSets& operator=(const WorkQueueSets&) = delete;
  // Resets the heap handles of the work queues still in the heaps.
  ~WorkQueueSets();

  void AddQueue(WorkQueue* work_queue, size_t set_index);
  void RemoveQueue(WorkQueue* work_queue);
  void OnTaskPushedToEmptyQueue(WorkQueue* work_queue);
  void OnQueuesFrontTaskChanged(WorkQueue* work_queue);
  void OnPopMinQueueInSet(WorkQueue* work_queue);
  void OnQueueBlocked(WorkQueue* work_queue);

  // The work queue whose front task is oldest at `set_index`, or null.
  WorkQueue* GetOldestQueueInSet(size_t set_index) const;
  WorkQueue* GetOldestQueueAndEnqueueOrderInSet(
      size_t set_index, EnqueueOrder* out_enqueue_order) const;
  bool IsSetEmpty(size_t set_index) const;

  const char* GetName() const { return name_; }

 private:
  struct Entry {
    EnqueueOrder order;
    WorkQueue* value;
  };
  using Heap = std::vector<Entry>;

  void Insert(size_t set, Entry entry);
  void Erase(size_t set, size_t index);
  void ChangeKey(size_t set, size_t index, EnqueueOrder order);
  void ReplaceTop(size_t set, Entry entry);
  void MoveUp(Heap& heap, size_t hole, Entry entry);
  // Moves the hole at `hole` down to a leaf; returns the leaf.
  size_t MoveHoleDownToLeaf(Heap& heap, size_t hole);
  void MoveDown(Heap& heap, size_t hole, Entry entry);
  void Place(Heap& heap, size_t index, Entry entry);

  const char* const name_;
  Heap work_queue_heaps_[kNumSets];
  Observer* const observer_;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_WORK_QUEUE_SETS_H_
