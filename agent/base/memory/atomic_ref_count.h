#ifndef AGENT_BASE_MEMORY_ATOMIC_REF_COUNT_H_
#define AGENT_BASE_MEMORY_ATOMIC_REF_COUNT_H_

#include <atomic>
#include <cstdint>

namespace kelmbase {

// The atomic counter behind every object shared between threads.
//
// Orderings: an increment can only come from a thread that already holds a
// reference, so it needs no ordering (relaxed). A decrement is
// acquire-release, so the thread that drops the last reference sees every
// write made through the other references before it destroys the object.
// The single-reference test is an acquire load, for the same reason.
class AtomicRefCount {
 public:
  constexpr AtomicRefCount() = default;
  explicit constexpr AtomicRefCount(int32_t initial) : ref_count_(initial) {}
  AtomicRefCount(const AtomicRefCount&) = delete;
  AtomicRefCount& operator=(const AtomicRefCount&) = delete;

  // Adds one; returns the count before the increment.
  int32_t Increment() { return ref_count_.fetch_add(1, std::memory_order_relaxed); }

  // Removes one; returns false when the count reached 0, i.e. the caller
  // dropped the last reference.
  bool Decrement() {
    return ref_count_.fetch_sub(1, std::memory_order_acq_rel) != 1;
  }

  bool IsOne() const { return ref_count_.load(std::memory_order_acquire) == 1; }
  bool IsZero() const {
    return ref_count_.load(std::memory_order_acquire) == 0;
  }

 private:
  std::atomic<int32_t> ref_count_{0};
};

}  // namespace kelmbase

#endif  // AGENT_BASE_MEMORY_ATOMIC_REF_COUNT_H_
