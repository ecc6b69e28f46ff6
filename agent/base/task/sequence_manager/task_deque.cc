#include "agent/base/task/sequence_manager/task_deque.h"

#include <algorithm>
#include <new>
#include <utility>

#include "agent/base/debug/keep_value_alive.h"
#include "logging/check.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

namespace {

constexpr size_t kMinimumCapacity = 4;
// Shrinking must free more than this many slots to be worth it.
constexpr size_t kShrinkSlack = 16;
constexpr Duration kShrinkInterval = Duration::FromSeconds(5);

Task* AllocateSlots(size_t capacity) {
  return static_cast<Task*>(
      ::operator new(sizeof(Task) * capacity, std::align_val_t(alignof(Task))));
}

}  // namespace

TaskDeque::Ring::Ring(size_t capacity)
    : capacity_(capacity), slots_(AllocateSlots(capacity)) {
  CHECK(capacity_ >= 2);
}

TaskDeque::Ring::~Ring() {
  while (!empty()) pop_front();
  ::operator delete(slots_, std::align_val_t(alignof(Task)));
  // A long chain is released iteratively, not by recursion.
  while (next_) next_ = std::move(next_->next_);
}

void TaskDeque::Ring::push_back(Task&& task) {
  back_index_ = (back_index_ + 1) % capacity_;
  new (&slots_[back_index_]) Task(std::move(task));
}

void TaskDeque::Ring::push_front(Task&& task) {
  new (&slots_[front_index_]) Task(std::move(task));
  front_index_ = front_index_ == 0 ? capacity_ - 1 : front_index_ - 1;
}

void TaskDeque::Ring::pop_front() {
  front_index_ = (front_index_ + 1) % capacity_;
  slots_[front_index_].~Task();
}

TaskDeque::TaskDeque() = default;

TaskDeque::~TaskDeque() { clear(); }

void TaskDeque::push_back(Task task) {
  ReserveBack();
  tail_->push_back(std::move(task));
  ++size_;
  max_size_ = std::max(max_size_, size_);
}

void TaskDeque::ReserveBack() {
  if (!head_) {
    head_ = std::make_unique<Ring>(kMinimumCapacity);
    tail_ = head_.get();
  } else if (tail_->full()) {
    size_t current_size = size_;
    debug::KeepValueAlive(&current_size);
    const size_t capacity = tail_->capacity();
    tail_->next() = std::make_unique<Ring>(capacity + capacity / 2 + 2);
    tail_ = tail_->next().get();
  }
}

void TaskDeque::push_front(Task task) {
  if (!head_) {
    head_ = std::make_unique<Ring>(kMinimumCapacity);
    tail_ = head_.get();
  } else if (head_->full()) {
    auto ring = std::make_unique<Ring>(kMinimumCapacity);
    ring->next() = std::move(head_);
    head_ = std::move(ring);
  }
  head_->push_front(std::move(task));
  ++size_;
  max_size_ = std::max(max_size_, size_);
}

Task TaskDeque::TakeFront() {
  CHECK(size_ > 0);
  Task task = std::move(head_->front());
  head_->pop_front();
  DropEmptyHead();
  --size_;
  return task;
}

void TaskDeque::pop_front() {
  // Destroyed on return, once the deque is consistent again.
  Task doomed = TakeFront();
}

void TaskDeque::DropEmptyHead() {
  if (!head_->empty() || !head_->next()) return;
  std::unique_ptr<Ring> old_head = std::move(head_);
  head_ = std::move(old_head->next());
}

Task* TaskDeque::front() { return size_ ? &head_->front() : nullptr; }

const Task* TaskDeque::front() const {
  return size_ ? &head_->front() : nullptr;
}

Task* TaskDeque::back() { return size_ ? &tail_->back() : nullptr; }

const Task* TaskDeque::back() const {
  return size_ ? &tail_->back() : nullptr;
}

void TaskDeque::clear() {
  std::unique_ptr<Ring> doomed = std::move(head_);
  tail_ = nullptr;
  size_ = 0;
  // `doomed` destroys its tasks here, with this deque already empty.
}

void TaskDeque::swap(TaskDeque& other) {
  std::swap(head_, other.head_);
  std::swap(tail_, other.tail_);
  std::swap(size_, other.size_);
  std::swap(max_size_, other.max_size_);
  std::swap(next_resize_time_, other.next_resize_time_);
}

size_t TaskDeque::capacity() const {
  size_t total = 0;
  for (const Ring* ring = head_.get(); ring; ring = ring->next())
    total += ring->capacity();
  return total;
}

void TaskDeque::MaybeShrinkQueue() {
  if (!head_) return;
  MaybeShrinkQueueAt(kelmbase::internal::MonotonicClockNow());
}

void TaskDeque::MaybeShrinkQueueAt(MonotonicTime now) {
  if (!head_) return;
  if (now < next_resize_time_) return;
  const size_t target = std::max(max_size_ + 1, kMinimumCapacity);
  max_size_ = size_;
  if (target + kShrinkSlack >= capacity()) return;
  SetCapacity(target);
  next_resize_time_ = now + kShrinkInterval;
}

void TaskDeque::SetCapacity(size_t capacity) {
  CHECK(capacity > size_);
  auto ring = std::make_unique<Ring>(capacity);
  // Moved-from shells are destroyed with the old chain; they own nothing.
  for (Ring* old = head_.get(); old; old = old->next().get()) {
    while (!old->empty()) {
      ring->push_back(std::move(old->front()));
      old->pop_front();
    }
  }
  head_ = std::move(ring);
  tail_ = head_.get();
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
