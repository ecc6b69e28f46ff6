#include "agent/base/metrics/persistent_memory_allocator.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "agent/base/metrics/histogram_base.h"
#include "logging/check.h"
#include "logging/log.h"

namespace kelmbase {

namespace {

using Reference = PersistentMemoryAllocator::Reference;

constexpr uint32_t kBlockHeaderSize = sizeof(PersistentBlockHeader);
// The smallest block that leaves room for data: a header and 8 bytes. No
// leftover smaller than this stays behind at the end of a page.
constexpr uint32_t kMinimumBlock = kBlockHeaderSize + 8;

uint32_t SystemPageSize() {
  long size = sysconf(_SC_PAGESIZE);
  if (size <= 0 || (size & (size - 1)) != 0) return 4096;
  return static_cast<uint32_t>(size);
}

}  // namespace

void PersistentMemoryAllocator::FormatSegment(void* base, size_t size,
                                              size_t page_size, uint64_t id) {
  CHECK(base != nullptr);
  CHECK_EQ(reinterpret_cast<uintptr_t>(base) % 8, 0u);
  CHECK_GE(size, sizeof(PersistentSegmentHeader));
  CHECK_LE(size, uint64_t{UINT32_MAX});
  memset(base, 0, sizeof(PersistentSegmentHeader));
  auto* header = static_cast<PersistentSegmentHeader*>(base);
  header->cookie = kSegmentCookie;
  header->version = kSegmentVersion;
  header->size = static_cast<uint32_t>(size);
  header->page_size = static_cast<uint32_t>(page_size);
  header->id = id;
  header->queue.next.store(kReferenceQueue, std::memory_order_relaxed);
  header->tail_pointer.store(kReferenceQueue, std::memory_order_relaxed);
  header->free_pointer.store(kReferenceFirst, std::memory_order_release);
}

PersistentMemoryAllocator::PersistentMemoryAllocator(void* base, size_t size,
                                                     size_t page_size,
                                                     bool read_only)
    : mem_base_(static_cast<char*>(base)),
      mem_size_(static_cast<uint32_t>(size)),
      // A segment of one page: the largest multiple of 8 it holds, so that
      // every page boundary keeps blocks 8-aligned.
      mem_page_(page_size != 0 ? static_cast<uint32_t>(page_size)
                               : static_cast<uint32_t>(size & ~size_t{7})),
      vm_page_size_(SystemPageSize()),
      read_only_(read_only) {
  CHECK(base != nullptr);
  CHECK_EQ(reinterpret_cast<uintptr_t>(base) % 8, 0u);
  CHECK_GE(size, sizeof(PersistentSegmentHeader));
  CHECK_LE(size, uint64_t{UINT32_MAX});
  CHECK_EQ(page_size % 8, 0u);
  CHECK_LE(page_size, uint64_t{UINT32_MAX});
}

PersistentMemoryAllocator::~PersistentMemoryAllocator() = default;

PersistentBlockHeader* PersistentMemoryAllocator::GetBlockMutable(
    Reference ref, uint32_t type_id, size_t size, bool queue_ok,
    bool free_ok) const {
  if (ref == kReferenceQueue && queue_ok) return &shared_header()->queue;
  if (ref < kReferenceFirst || ref % 8 != 0) return nullptr;
  // All bounds in 64 bits: a reference near the top of the 32-bit range
  // plus a size must not wrap around to a small number that passes.
  if (size > mem_size_) return nullptr;
  const uint64_t end = uint64_t{ref} + size + kBlockHeaderSize;
  if (end > mem_size_) return nullptr;
  auto* block = reinterpret_cast<PersistentBlockHeader*>(mem_base_ + ref);
  if (free_ok) return block;
  if (block->cookie != kBlockCookieAllocated) return nullptr;
  if (uint64_t{block->size} < uint64_t{size} + kBlockHeaderSize) {
    return nullptr;
  }
  if (uint64_t{ref} + block->size > mem_size_) return nullptr;
  if (type_id != 0 &&
      block->type_id.load(std::memory_order_relaxed) != type_id) {
    return nullptr;
  }
  return block;
}

const PersistentBlockHeader* PersistentMemoryAllocator::GetBlock(
    Reference ref, uint32_t type_id, size_t size, bool queue_ok,
    bool free_ok) const {
  return GetBlockMutable(ref, type_id, size, queue_ok, free_ok);
}

PersistentBlockHeader* PersistentMemoryAllocator::GetBlock(Reference ref,
                                                           uint32_t type_id,
                                                           size_t size,
                                                           bool queue_ok,
                                                           bool free_ok) {
  return GetBlockMutable(ref, type_id, size, queue_ok, free_ok);
}

void* PersistentMemoryAllocator::GetAsObject(Reference ref, uint32_t type_id,
                                             size_t size) {
  PersistentBlockHeader* block = GetBlockMutable(ref, type_id, size,
                                                 /*queue_ok=*/false,
                                                 /*free_ok=*/false);
  if (block == nullptr) return nullptr;
  return reinterpret_cast<char*>(block) + kBlockHeaderSize;
}

const void* PersistentMemoryAllocator::GetAsObject(Reference ref,
                                                   uint32_t type_id,
                                                   size_t size) const {
  const PersistentBlockHeader* block =
      GetBlock(ref, type_id, size, /*queue_ok=*/false, /*free_ok=*/false);
  if (block == nullptr) return nullptr;
  return reinterpret_cast<const char*>(block) + kBlockHeaderSize;
}

Reference PersistentMemoryAllocator::GetAsReference(const void* memory,
                                                    uint32_t type_id) const {
  const uintptr_t address = reinterpret_cast<uintptr_t>(memory);
  const uintptr_t base = reinterpret_cast<uintptr_t>(mem_base_);
  if (address < base + kBlockHeaderSize) return kReferenceNull;
  if (address - base >= mem_size_) return kReferenceNull;
  const Reference ref =
      static_cast<Reference>(address - base - kBlockHeaderSize);
  if (GetBlock(ref, type_id, 1, /*queue_ok=*/false, /*free_ok=*/false) ==
      nullptr) {
    return kReferenceNull;
  }
  return ref;
}

size_t PersistentMemoryAllocator::GetAllocSize(Reference ref) const {
  const PersistentBlockHeader* block =
      GetBlock(ref, 0, 0, /*queue_ok=*/false, /*free_ok=*/false);
  if (block == nullptr) return 0;
  if (block->size == kBlockHeaderSize) {
    // A block with no room for data was never handed out.
    SetCorrupt();
    return 0;
  }
  return block->size - kBlockHeaderSize;
}

bool PersistentMemoryAllocator::ChangeType(Reference ref, uint32_t to_type_id,
                                           uint32_t from_type_id, bool clear) {
  PersistentBlockHeader* block =
      GetBlockMutable(ref, 0, 0, /*queue_ok=*/false, /*free_ok=*/false);
  if (block == nullptr) return false;
  if (!clear) {
    return block->type_id.compare_exchange_strong(
        from_type_id, to_type_id, std::memory_order_acq_rel,
        std::memory_order_acquire);
  }
  if (!block->type_id.compare_exchange_strong(
          from_type_id, kTypeIdTransitioning, std::memory_order_acq_rel,
          std::memory_order_acquire)) {
    return false;
  }
  // GetBlock checked that the whole block lies inside the segment.
  const uint32_t words = (block->size - kBlockHeaderSize) / 4;
  char* data = reinterpret_cast<char*>(block) + kBlockHeaderSize;
  for (uint32_t i = 0; i < words; ++i) {
    std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(data + i * 4))
        .store(0, std::memory_order_relaxed);
  }
  if (to_type_id == kTypeIdTransitioning) return true;
  uint32_t transitioning = kTypeIdTransitioning;
  return block->type_id.compare_exchange_strong(transitioning, to_type_id,
                                                std::memory_order_acq_rel,
                                                std::memory_order_acquire);
}

Reference PersistentMemoryAllocator::Allocate(size_t size, uint32_t type_id) {
  const Reference ref = AllocateImpl(size, type_id);
  if (allocs_histogram_ != nullptr) {
    allocs_histogram_->Add(ref != kReferenceNull ? static_cast<int32_t>(size)
                                                 : 0);
  }
  return ref;
}

Reference PersistentMemoryAllocator::AllocateImpl(size_t request,
                                                  uint32_t type_id) {
  if (read_only_) return kReferenceNull;
  if (request > kMaxAllocationSize) return kReferenceNull;
  uint32_t size =
      (static_cast<uint32_t>(request) + kBlockHeaderSize + 7) & ~uint32_t{7};
  if (size <= kBlockHeaderSize || size > mem_page_) return kReferenceNull;

  PersistentSegmentHeader* header = shared_header();
  uint32_t freeptr = header->free_pointer.load(std::memory_order_acquire);
  while (!corrupt_.load(std::memory_order_relaxed)) {
    if (header->flags.load(std::memory_order_relaxed) & kFlagCorrupt) {
      SetCorrupt();
      return kReferenceNull;
    }
    if (uint64_t{freeptr} + size > mem_size_) {
      header->flags.fetch_or(kFlagFull, std::memory_order_relaxed);
      return kReferenceNull;
    }
    if (freeptr < kReferenceFirst || freeptr % 8 != 0 ||
        uint64_t{freeptr} + kBlockHeaderSize > mem_size_) {
      SetCorrupt();
      return kReferenceNull;
    }
    const uint32_t page_free = mem_page_ - freeptr % mem_page_;
    if (page_free < size) {
      if (page_free <= kBlockHeaderSize) {
        SetCorrupt();
        return kReferenceNull;
      }
      // Skip to the next page; the skipped tail becomes a wasted block so
      // that a reader walking the blocks can step over it.
      if (header->free_pointer.compare_exchange_strong(
              freeptr, freeptr + page_free, std::memory_order_acq_rel,
              std::memory_order_acquire)) {
        auto* wasted =
            reinterpret_cast<PersistentBlockHeader*>(mem_base_ + freeptr);
        wasted->size = page_free;
        wasted->cookie = kBlockCookieWasted;
        freeptr = header->free_pointer.load(std::memory_order_acquire);
      }
      continue;
    }
    if (page_free - size < kMinimumBlock) size = page_free;
    if (uint64_t{freeptr} + size > mem_size_) {
      SetCorrupt();
      return kReferenceNull;
    }
    if (!header->free_pointer.compare_exchange_strong(
            freeptr, freeptr + size, std::memory_order_acq_rel,
            std::memory_order_acquire)) {
      continue;  // `freeptr` now holds the current value.
    }

    auto* block = reinterpret_cast<PersistentBlockHeader*>(mem_base_ + freeptr);
    if (block->size != 0 || block->cookie != 0 ||
        block->type_id.load(std::memory_order_relaxed) != 0 ||
        block->next.load(std::memory_order_relaxed) != 0) {
      // Space past the free pointer was written: something else is using
      // the segment in a way these rules do not know.
      SetCorrupt();
      return kReferenceNull;
    }
    // Touch every further system page of the block so that a mapping
    // backed by a file has them before the caller writes.
    const uint64_t block_end = uint64_t{freeptr} + size;
    for (uint64_t page = (freeptr / vm_page_size_ + 1) * uint64_t{vm_page_size_};
         page < block_end; page += vm_page_size_) {
      mem_base_[page] = 0;
    }
    block->size = size;
    block->cookie = kBlockCookieAllocated;
    block->type_id.store(type_id, std::memory_order_release);
    return freeptr;
  }
  SetCorrupt();
  return kReferenceNull;
}

void PersistentMemoryAllocator::MakeIterable(Reference ref) {
  if (IsCorrupt()) return;
  PersistentBlockHeader* block =
      GetBlockMutable(ref, 0, 0, /*queue_ok=*/false, /*free_ok=*/false);
  if (block == nullptr) return;
  uint32_t unlisted = 0;
  if (!block->next.compare_exchange_strong(unlisted, kReferenceQueue,
                                           std::memory_order_release,
                                           std::memory_order_relaxed)) {
    return;  // Already listed.
  }
  PersistentSegmentHeader* header = shared_header();
  // Each failed attempt means another block was appended, and no segment
  // holds more blocks than this; a damaged list that links in a circle
  // would otherwise keep this loop going for ever.
  const uint64_t attempts = 2 * (uint64_t{mem_size_} / kMinimumBlock) + 16;
  for (uint64_t i = 0; i < attempts; ++i) {
    uint32_t tail = header->tail_pointer.load(std::memory_order_acquire);
    PersistentBlockHeader* tail_block =
        GetBlockMutable(tail, 0, 0, /*queue_ok=*/true, /*free_ok=*/false);
    if (tail_block == nullptr) {
      SetCorrupt();
      return;
    }
    uint32_t next = kReferenceQueue;
    if (tail_block->next.compare_exchange_strong(next, ref,
                                                 std::memory_order_acq_rel,
                                                 std::memory_order_acquire)) {
      header->tail_pointer.compare_exchange_strong(tail, ref,
                                                   std::memory_order_release,
                                                   std::memory_order_relaxed);
      return;
    }
    // Another block went in after `tail`; move the tail on to it (unless
    // its appender already did) and try again.
    header->tail_pointer.compare_exchange_strong(tail, next,
                                                 std::memory_order_release,
                                                 std::memory_order_relaxed);
  }
  SetCorrupt();
}

bool PersistentMemoryAllocator::IsCorrupt() const {
  if (corrupt_.load(std::memory_order_relaxed) ||
      (shared_header()->flags.load(std::memory_order_relaxed) &
       kFlagCorrupt)) {
    SetCorrupt();
    return true;
  }
  return false;
}

void PersistentMemoryAllocator::SetCorrupt() const {
  if (!corrupt_.load(std::memory_order_relaxed) &&
      !(shared_header()->flags.load(std::memory_order_relaxed) &
        kFlagCorrupt)) {
    LOG(ERROR) << "Corruption detected in shared-memory segment.";
    if (errors_histogram_ != nullptr) errors_histogram_->Add(kErrorCorrupt);
  }
  corrupt_.store(true, std::memory_order_relaxed);
  if (!read_only_) {
    shared_header()->flags.fetch_or(kFlagCorrupt, std::memory_order_relaxed);
  }
}

PersistentBlockIterator::PersistentBlockIterator(
    const PersistentMemoryAllocator* allocator)
    : allocator_(allocator) {}

Reference PersistentBlockIterator::GetLast() const {
  const Reference last = last_record_.load(std::memory_order_acquire);
  return last == PersistentMemoryAllocator::kReferenceQueue ? 0 : last;
}

Reference PersistentBlockIterator::GetNext(uint32_t* type_id_out) {
  Reference last = last_record_.load(std::memory_order_acquire);
  const uint32_t count = record_count_.load(std::memory_order_relaxed);
  for (;;) {
    const PersistentBlockHeader* block =
        allocator_->GetBlock(last, 0, 0, /*queue_ok=*/true, /*free_ok=*/false);
    if (block == nullptr) return PersistentMemoryAllocator::kReferenceNull;
    const Reference next = block->next.load(std::memory_order_acquire);
    if (next == PersistentMemoryAllocator::kReferenceQueue) {
      return PersistentMemoryAllocator::kReferenceNull;
    }
    // GetBlock checks range, alignment, cookie and that the block lies
    // inside the segment.
    const PersistentBlockHeader* next_block =
        allocator_->GetBlock(next, 0, 0, /*queue_ok=*/false, /*free_ok=*/false);
    if (next_block == nullptr) {
      allocator_->SetCorrupt();
      return PersistentMemoryAllocator::kReferenceNull;
    }
    if (!last_record_.compare_exchange_strong(last, next,
                                              std::memory_order_acq_rel,
                                              std::memory_order_acquire)) {
      continue;  // Another user of this iterator moved on; `last` is fresh.
    }
    *type_id_out = next_block->type_id.load(std::memory_order_acquire);
    const uint32_t freeptr =
        allocator_->shared_header()->free_pointer.load(
            std::memory_order_relaxed);
    const uint32_t most_blocks =
        std::min(allocator_->mem_size_, freeptr) / kMinimumBlock;
    if (count > most_blocks) {
      // More blocks than can exist: the list runs in a circle.
      allocator_->SetCorrupt();
      return PersistentMemoryAllocator::kReferenceNull;
    }
    record_count_.fetch_add(1, std::memory_order_relaxed);
    return next;
  }
}

Reference PersistentBlockIterator::GetNextOfType(uint32_t type_id) {
  uint32_t type = 0;
  for (;;) {
    const Reference ref = GetNext(&type);
    if (ref == PersistentMemoryAllocator::kReferenceNull) return ref;
    if (type == type_id) return ref;
  }
}

LazyPersistentBlock::LazyPersistentBlock(PersistentMemoryAllocator* allocator,
                                         std::atomic<Reference>* reference_cell,
                                         uint32_t type_id, size_t size,
                                         size_t offset, bool make_iterable)
    : allocator_(allocator),
      reference_cell_(reference_cell),
      type_id_(type_id),
      size_(static_cast<uint32_t>(size)),
      offset_(static_cast<uint32_t>(offset)),
      make_iterable_(make_iterable) {
  CHECK_LE(size, uint64_t{UINT32_MAX});
  CHECK_LE(offset, uint64_t{UINT32_MAX});
  CHECK_LE(offset, size);
}

void* LazyPersistentBlock::Get() const {
  Reference ref = reference_cell_->load(std::memory_order_acquire);
  if (ref == PersistentMemoryAllocator::kReferenceNull) {
    const Reference fresh = allocator_->Allocate(size_, type_id_);
    if (fresh == PersistentMemoryAllocator::kReferenceNull) return nullptr;
    Reference expected = PersistentMemoryAllocator::kReferenceNull;
    if (reference_cell_->compare_exchange_strong(expected, fresh,
                                                 std::memory_order_acq_rel,
                                                 std::memory_order_acquire)) {
      ref = fresh;
      if (make_iterable_) allocator_->MakeIterable(ref);
    } else {
      // Another thread stored its block first; give this one up.
      allocator_->ChangeType(fresh, PersistentMemoryAllocator::kTypeIdAbandoned,
                             type_id_, /*clear=*/false);
      ref = expected;
    }
  }
  char* memory = static_cast<char*>(allocator_->GetAsObject(ref, type_id_, size_));
  return memory != nullptr ? memory + offset_ : nullptr;
}

}  // namespace kelmbase
