#include "agent/base/message_pump/thread_work_counter.h"

#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {

namespace {

// Frees the counter when its thread exits.
void DestroyCounter(void* counter) {
  delete static_cast<ThreadWorkCounter*>(counter);
}

ThreadLocalStorage::Slot& CounterSlot() {
  static ThreadLocalStorage::Slot* const slot =
      new ThreadLocalStorage::Slot(&DestroyCounter);
  return *slot;
}

}  // namespace

// static
ThreadWorkCounter* ThreadWorkCounter::ForCurrentThread() {
  auto* counter = static_cast<ThreadWorkCounter*>(CounterSlot().Get());
  if (counter == nullptr) {
    counter = new ThreadWorkCounter();
    CounterSlot().Set(counter);
  }
  return counter;
}

void ThreadWorkCounter::Advance() {
  uint32_t next = value_.load(std::memory_order_relaxed) + 1;
  if (next == 0)
    next = 1;
  value_.store(next, std::memory_order_release);
}

}  // namespace kelmbase
