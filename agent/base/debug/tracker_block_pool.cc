#include "agent/base/debug/tracker_block_pool.h"

#include <algorithm>

namespace kelmbase {
namespace debug {

TrackerBlockPool::TrackerBlockPool(PersistentMemoryAllocator* allocator,
                                   uint32_t in_use_type, uint32_t free_type,
                                   size_t block_size, size_t cache_size,
                                   bool make_iterable)
    : allocator_(allocator),
      in_use_type_(in_use_type),
      free_type_(free_type),
      block_size_(block_size),
      cache_size_(std::min(cache_size, kMaxCache)),
      make_iterable_(make_iterable),
      iterator_(std::make_unique<PersistentBlockIterator>(allocator)) {}

TrackerBlockPool::~TrackerBlockPool() = default;

TrackerBlockPool::Reference TrackerBlockPool::TakeFromIterator() {
  // Start where the last walk stopped; wrap around to the start once.
  for (int round = 0; round < 2; ++round) {
    while (Reference ref = iterator_->GetNextOfType(free_type_)) {
      if (allocator_->ChangeType(ref, in_use_type_, free_type_, false)) {
        return ref;
      }
    }
    iterator_ = std::make_unique<PersistentBlockIterator>(allocator_);
  }
  return PersistentMemoryAllocator::kReferenceNull;
}

TrackerBlockPool::Reference TrackerBlockPool::Acquire() {
  while (cached_ > 0) {
    const Reference ref = cache_[--cached_];
    if (allocator_->ChangeType(ref, in_use_type_, free_type_, false)) {
      return ref;
    }
  }
  if (Reference ref = TakeFromIterator()) return ref;
  const Reference ref = allocator_->Allocate(block_size_, in_use_type_);
  if (ref == PersistentMemoryAllocator::kReferenceNull) return ref;
  if (make_iterable_) allocator_->MakeIterable(ref);
  return ref;
}

void TrackerBlockPool::Release(Reference ref) {
  if (!allocator_->ChangeType(ref, free_type_, in_use_type_, true)) return;
  if (cached_ < cache_size_) cache_[cached_++] = ref;
}

}  // namespace debug
}  // namespace kelmbase
