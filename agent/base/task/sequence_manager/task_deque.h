#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_DEQUE_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_DEQUE_H_

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "agent/base/task/sequence_manager/task.h"
#include "agent/base/time/time.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// A double-ended queue of tasks built from a chain of ring buffers. Growth
// adds a ring (each 1.5 times plus 2 the size of the last, so queued tasks
// never move); memory goes back only through MaybeShrinkQueue, at most once
// per 5 seconds and only when more than 16 slots would be freed.
//
// Not thread-safe: an immediate incoming queue is used under its queue's
// lock, every other deque on the manager's thread.
//
// A task is always detached from the deque before it is destroyed, so a
// destructor that posts into this same deque finds it consistent.
class TaskDeque {
 public:
  TaskDeque();
  TaskDeque(const TaskDeque&) = delete;
  TaskDeque& operator=(const TaskDeque&) = delete;
  ~TaskDeque();

  void push_back(Task task);
  void push_front(Task task);
  // Builds a task in place at the back, from Task's constructor arguments;
  // returns it.
  template <typename... Args>
  Task& emplace_back(Args&&... args);

  // Removes the front task and hands it over. Not empty.
  Task TakeFront();
  // Removes and destroys the front task. Not empty.
  void pop_front();

  // The front or back task, or null when empty.
  Task* front();
  const Task* front() const;
  Task* back();
  const Task* back() const;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Frees every ring; the tasks are destroyed after the deque is empty.
  void clear();

  // Exchanges everything, shrink bookkeeping included.
  void swap(TaskDeque& other);

  // Total slots of all rings (each ring holds one task fewer than its
  // slots). Diagnostics only.
  size_t capacity() const;

  // Calls `fn(const Task&)` for every task, front to back.
  template <typename Fn>
  void ForEach(Fn&& fn) const;

  // Gives memory back when it is time to (see the class comment); `now`
  // comes from the monotonic clock, not a time domain.
  void MaybeShrinkQueue();
  void MaybeShrinkQueueAt(MonotonicTime now);

  // Moves every task into one new ring of `capacity` slots, which must
  // exceed size().
  void SetCapacity(size_t capacity);

 private:
  class Ring;

  // Destroys the now empty head ring when another follows it.
  void DropEmptyHead();
  // Makes room at the back for one more task.
  void ReserveBack();

  std::unique_ptr<Ring> head_;
  Ring* tail_ = nullptr;
  size_t size_ = 0;
  // The largest size since the last shrink check.
  size_t max_size_ = 0;
  MonotonicTime next_resize_time_;
};

// One ring: slots front_index+1 .. back_index (modulo capacity) hold tasks;
// empty when front == back, full when back + 1 == front.
class TaskDeque::Ring {
 public:
  explicit Ring(size_t capacity);
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;
  ~Ring();

  size_t capacity() const { return capacity_; }
  bool empty() const { return front_index_ == back_index_; }
  bool full() const { return (back_index_ + 1) % capacity_ == front_index_; }

  void push_back(Task&& task);
  void push_front(Task&& task);
  template <typename... Args>
  Task& emplace_back(Args&&... args) {
    back_index_ = (back_index_ + 1) % capacity_;
    return *new (&slots_[back_index_]) Task(std::forward<Args>(args)...);
  }
  Task& front() { return slots_[(front_index_ + 1) % capacity_]; }
  const Task& front() const { return slots_[(front_index_ + 1) % capacity_]; }
  Task& back() { return slots_[back_index_]; }
  const Task& back() const { return slots_[back_index_]; }
  // Destroys the front slot's task, which has been moved from.
  void pop_front();

  template <typename Fn>
  void ForEach(Fn& fn) const {
    for (size_t i = front_index_; i != back_index_;) {
      i = (i + 1) % capacity_;
      fn(static_cast<const Task&>(slots_[i]));
    }
  }

  std::unique_ptr<Ring>& next() { return next_; }
  const Ring* next() const { return next_.get(); }

 private:
  const size_t capacity_;
  size_t front_index_ = 0;
  size_t back_index_ = 0;
  Task* const slots_;
  std::unique_ptr<Ring> next_;
};

template <typename... Args>
Task& TaskDeque::emplace_back(Args&&... args) {
  ReserveBack();
  Task& task = tail_->emplace_back(std::forward<Args>(args)...);
  ++size_;
  if (size_ > max_size_) max_size_ = size_;
  return task;
}

template <typename Fn>
void TaskDeque::ForEach(Fn&& fn) const {
  for (const Ring* ring = head_.get(); ring; ring = ring->next())
    ring->ForEach(fn);
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_DEQUE_H_
