#ifndef AGENT_BASE_DEBUG_TRACKER_BLOCK_POOL_H_
#define AGENT_BASE_DEBUG_TRACKER_BLOCK_POOL_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "agent/base/metrics/persistent_memory_allocator.h"

namespace kelmbase {
namespace debug {

// Reuses persistent blocks of one size: a block in use carries one type id,
// a released one another. Released blocks are found again through a small
// cache of references, then by walking the allocator's iterable blocks, and
// only then is a new block allocated. Not thread-safe: the owner holds a lock
// around every call.
class TrackerBlockPool {
 public:
  using Reference = PersistentMemoryAllocator::Reference;
  static constexpr size_t kMaxCache = 16;

  TrackerBlockPool(PersistentMemoryAllocator* allocator, uint32_t in_use_type,
                   uint32_t free_type, size_t block_size, size_t cache_size,
                   bool make_iterable);
  TrackerBlockPool(const TrackerBlockPool&) = delete;
  TrackerBlockPool& operator=(const TrackerBlockPool&) = delete;
  ~TrackerBlockPool();

  // A block now typed in-use, or kReferenceNull when memory is exhausted.
  Reference Acquire();
  // Clears the block and types it free.
  void Release(Reference ref);

  PersistentMemoryAllocator* allocator() const { return allocator_; }
  size_t block_size() const { return block_size_; }

 private:
  Reference TakeFromIterator();

  PersistentMemoryAllocator* const allocator_;
  const uint32_t in_use_type_;
  const uint32_t free_type_;
  const size_t block_size_;
  const size_t cache_size_;
  const bool make_iterable_;
  Reference cache_[kMaxCache] = {};
  size_t cached_ = 0;
  std::unique_ptr<PersistentBlockIterator> iterator_;
};

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_TRACKER_BLOCK_POOL_H_
