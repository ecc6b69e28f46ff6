#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_ENQUEUE_ORDER_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_ENQUEUE_ORDER_H_

#include <atomic>
#include <cstdint>

#include "agent/base/memory/cache_line.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// The order in which tasks became runnable, across every queue of one
// sequence manager. Immediate tasks get theirs when posted, delayed tasks
// when they fall due.
using EnqueueOrder = uint64_t;

// No enqueue order: no fence, or a delayed task that is not yet due.
inline constexpr EnqueueOrder kNoEnqueueOrder = 0;
// The fence that blocks every task.
inline constexpr EnqueueOrder kBlockingFence = 1;
// The first order handed out.
inline constexpr EnqueueOrder kFirstEnqueueOrder = 2;

// The per-manager source of enqueue orders and sequence numbers. Any thread
// may take values; each is taken once. The counter fills a cache line of
// its own: every post from another thread writes it, and it must not evict
// what the manager's thread works on.
class alignas(kCacheLineSize) EnqueueOrderGenerator {
 public:
  EnqueueOrderGenerator() = default;
  EnqueueOrderGenerator(const EnqueueOrderGenerator&) = delete;
  EnqueueOrderGenerator& operator=(const EnqueueOrderGenerator&) = delete;

  // The next value: 2, 3, 4, ...
  EnqueueOrder GenerateNext() {
    return counter_.fetch_add(1, std::memory_order_relaxed);
  }

  // Makes `next` the next value handed out, so that tests can reach the
  // wrap of the 32-bit sequence numbers. Only before any poster runs.
  void SetNextForTesting(EnqueueOrder next) {
    counter_.store(next, std::memory_order_relaxed);
  }

 private:
  std::atomic<EnqueueOrder> counter_{kFirstEnqueueOrder};
};

// Sequence numbers are the low 32 bits of the generator's values. True when
// `a` was taken before `b`, also across the wrap of the 32-bit counter (the
// two must lie less than 2^31 values apart, which any two queued tasks do).
inline bool SequenceNumberIsEarlier(int a, int b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) -
                              static_cast<uint32_t>(b)) < 0;
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_ENQUEUE_ORDER_H_
