#ifndef AGENT_BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
#define AGENT_BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_

// A lock-free block allocator over a flat memory segment (memory shared with
// another process, or mapped from a file), with an iterable list of finished
// blocks, so that another reader can find what was written.
//
// Segment layout (host byte order; offsets in bytes):
//
//   0   36  identification written by FormatSegment (not read by the rules)
//   36   4  flags: atomic; 0x1 corrupt, 0x2 full
//   40   4  free pointer: atomic; the first byte not yet allocated
//   44   4  tail pointer: atomic; the last block of the iterable list
//   48  16  the queue block: heads the iterable list (its next at 60)
//   64      first block
//
// Every block starts with a 16-byte PersistentBlockHeader followed by its
// data. A reference is the offset of a block header from the segment start;
// 0 is the null reference. A reference is valid when it is at least 64, a
// multiple of 8 and its block lies wholly inside the segment.
//
// Blocks are never freed: an abandoned block keeps its space with type 0.
// The free pointer only grows; the full and corrupt flags, once set, stay
// set, and a corrupt segment refuses every later allocation.
//
// A segment's contents may come from anywhere, so every reference, size and
// link read from it is checked (in 64-bit arithmetic) before use; damage is
// answered with 0, null or false and marks the segment corrupt, never with
// a read or write outside the segment.
//
// Threads: Allocate, ChangeType, MakeIterable and iteration are lock-free
// and may run on any thread at once (also from several processes sharing
// the segment). A block's data belongs to its allocator until it is made
// iterable; a record becomes visible to iterators only after that.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kelmbase {

class HistogramBase;

// The 16 bytes in front of every block's data.
struct PersistentBlockHeader {
  // The whole block including this header, a multiple of 8.
  uint32_t size;
  // kBlockCookieAllocated, or kBlockCookieWasted for a page's skipped tail.
  uint32_t cookie;
  // 0 = no type (abandoned), 0xFFFFFFFF = being cleared, else the content.
  std::atomic<uint32_t> type_id;
  // 0 = not iterable, 48 = last of the list, else the next listed block.
  std::atomic<uint32_t> next;
};
static_assert(sizeof(PersistentBlockHeader) == 16);

// The segment's first 64 bytes.
struct PersistentSegmentHeader {
  // Identification written by PersistentMemoryAllocator::FormatSegment.
  uint32_t cookie;
  uint32_t version;
  uint32_t size;
  uint32_t page_size;
  uint64_t id;
  uint8_t unused[12];
  std::atomic<uint32_t> flags;
  std::atomic<uint32_t> free_pointer;
  std::atomic<uint32_t> tail_pointer;
  PersistentBlockHeader queue;
};
static_assert(sizeof(PersistentSegmentHeader) == 64);

class PersistentMemoryAllocator {
 public:
  using Reference = uint32_t;

  static constexpr Reference kReferenceNull = 0;
  // The queue block's reference; as a block's next it ends the list.
  static constexpr Reference kReferenceQueue = 48;
  // The first reference a block can have.
  static constexpr Reference kReferenceFirst = 64;
  static constexpr uint32_t kBlockCookieAllocated = 0xC8799269;
  static constexpr uint32_t kBlockCookieWasted = 0xFFFFFFFF;
  static constexpr uint32_t kTypeIdAbandoned = 0;
  static constexpr uint32_t kTypeIdTransitioning = 0xFFFFFFFF;
  static constexpr uint32_t kFlagCorrupt = 0x1;
  static constexpr uint32_t kFlagFull = 0x2;
  // The largest data size Allocate accepts.
  static constexpr uint32_t kMaxAllocationSize = 0x3FFFFFF0;
  // The identification FormatSegment writes at offset 0.
  static constexpr uint32_t kSegmentCookie = 0x408305DC;
  static constexpr uint32_t kSegmentVersion = 1;
  // The error code added to the error histogram when corruption is found.
  static constexpr int kErrorCorrupt = 1;

  // Lays out an empty segment of `size` bytes at `base` (8-byte aligned):
  // zeroes the header, writes the identification, and leaves the queue
  // block's next and the tail pointer at 48 and the free pointer at 64. The
  // rest of the segment must be zero. `size` must be at least 64 and at
  // most 2^32 - 1 (fatal CHECKs).
  static void FormatSegment(void* base, size_t size, size_t page_size,
                            uint64_t id);

  // An allocator over the `size` bytes at `base`, which must be 8-byte
  // aligned, at least 64 bytes and at most 2^32 - 1 bytes (fatal CHECKs),
  // and must outlive the allocator. No block crosses a multiple of
  // `page_size`; 0 means the whole segment is one page. A read-only
  // allocator never writes to the segment (Allocate refuses, the corrupt
  // mark stays local). The header is not validated: the rules below cope
  // with any contents.
  PersistentMemoryAllocator(void* base, size_t size, size_t page_size,
                            bool read_only);
  PersistentMemoryAllocator(const PersistentMemoryAllocator&) = delete;
  PersistentMemoryAllocator& operator=(const PersistentMemoryAllocator&) =
      delete;
  ~PersistentMemoryAllocator();

  // A new block of `size` data bytes with type `type_id`, or 0 when the size
  // is 0, above kMaxAllocationSize or larger than a page, when the segment
  // is full (sets the full flag) or corrupt. In a well-formed segment the
  // data is zero. The
  // allocation-size histogram, when set, receives the size or 0.
  Reference Allocate(size_t size, uint32_t type_id);

  // The header of the block at `ref`, or null (see the checks in the .cc).
  // `queue_ok` lets 48 name the queue block; `free_ok` skips every check
  // beyond the reference's range. A `type_id` of 0 accepts any type.
  const PersistentBlockHeader* GetBlock(Reference ref, uint32_t type_id,
                                        size_t size, bool queue_ok,
                                        bool free_ok) const;
  PersistentBlockHeader* GetBlock(Reference ref, uint32_t type_id,
                                  size_t size, bool queue_ok, bool free_ok);

  // The data of a valid block of that type holding at least `size` bytes,
  // or null.
  void* GetAsObject(Reference ref, uint32_t type_id, size_t size);
  const void* GetAsObject(Reference ref, uint32_t type_id,
                          size_t size) const;

  // The reference of the block whose data starts at `memory`, or 0 when
  // `memory` is not the data of a valid block of that type.
  Reference GetAsReference(const void* memory, uint32_t type_id) const;

  // The data bytes of the block at `ref`, or 0 for an invalid block.
  size_t GetAllocSize(Reference ref) const;

  // Changes the type of the block at `ref` from `from_type_id` to
  // `to_type_id` by compare-and-swap; with `clear`, the data is zeroed in
  // between while the type reads 0xFFFFFFFF. False when the block is
  // invalid or its type is not `from_type_id`.
  bool ChangeType(Reference ref, uint32_t to_type_id, uint32_t from_type_id,
                  bool clear);

  // Appends the block at `ref` to the iterable list (once; a listed or
  // invalid block is left alone). Call only when its data is complete.
  void MakeIterable(Reference ref);

  // Whether this allocator or the segment is marked corrupt.
  bool IsCorrupt() const;
  // Marks corruption: logs it once, counts it in the error histogram, and
  // (unless read-only) sets the segment's corrupt flag.
  void SetCorrupt() const;

  // Histograms that receive each allocation's size and the error codes;
  // null (the default) for none. Set before other threads use the
  // allocator; the histograms must outlive it.
  void SetAllocationSizeHistogram(HistogramBase* histogram) {
    allocs_histogram_ = histogram;
  }
  void SetErrorHistogram(HistogramBase* histogram) {
    errors_histogram_ = histogram;
  }

  // The segment.
  const char* data() const { return mem_base_; }
  size_t size() const { return mem_size_; }
  bool IsReadonly() const { return read_only_; }

 private:
  friend class PersistentBlockIterator;

  PersistentSegmentHeader* shared_header() const {
    return reinterpret_cast<PersistentSegmentHeader*>(mem_base_);
  }
  // The header at `ref` after GetBlock's checks, without constness.
  PersistentBlockHeader* GetBlockMutable(Reference ref, uint32_t type_id,
                                         size_t size, bool queue_ok,
                                         bool free_ok) const;
  Reference AllocateImpl(size_t size, uint32_t type_id);

  char* const mem_base_;
  const uint32_t mem_size_;
  const uint32_t mem_page_;
  const uint32_t vm_page_size_;
  const bool read_only_;
  mutable std::atomic<bool> corrupt_{false};
  HistogramBase* allocs_histogram_ = nullptr;
  HistogramBase* errors_histogram_ = nullptr;
};

// Walks the allocator's iterable list from the start. Several threads may
// share one iterator: each listed block is then returned to exactly one of
// them. The allocator must outlive the iterator.
class PersistentBlockIterator {
 public:
  using Reference = PersistentMemoryAllocator::Reference;

  explicit PersistentBlockIterator(const PersistentMemoryAllocator* allocator);
  PersistentBlockIterator(const PersistentBlockIterator&) = delete;
  PersistentBlockIterator& operator=(const PersistentBlockIterator&) = delete;

  // The next listed block and its type, or 0 at the end of the list or on a
  // damaged list (which marks the segment corrupt). A later call may return
  // blocks listed in the meantime.
  Reference GetNext(uint32_t* type_id_out);
  // GetNext until a block of `type_id` or 0 comes back.
  Reference GetNextOfType(uint32_t type_id);
  // The reference last returned; 0 before the first.
  Reference GetLast() const;

 private:
  const PersistentMemoryAllocator* const allocator_;
  std::atomic<Reference> last_record_{PersistentMemoryAllocator::kReferenceQueue};
  std::atomic<uint32_t> record_count_{0};
};

// A block made on first use: a reference cell (a word inside another block)
// holds 0 until the first Get() allocates the block and stores its
// reference. Racing first uses agree on one block; the losers' blocks are
// abandoned. Sizes and offsets above 2^32 - 1 are a fatal CHECK.
class LazyPersistentBlock {
 public:
  using Reference = PersistentMemoryAllocator::Reference;

  LazyPersistentBlock(PersistentMemoryAllocator* allocator,
                      std::atomic<Reference>* reference_cell,
                      uint32_t type_id, size_t size, size_t offset,
                      bool make_iterable);

  // The block's data plus the offset, or null when no block can be had.
  void* Get() const;
  // The cell's current reference (0 before the first Get()).
  Reference reference() const {
    return reference_cell_->load(std::memory_order_acquire);
  }

 private:
  PersistentMemoryAllocator* const allocator_;
  std::atomic<Reference>* const reference_cell_;
  const uint32_t type_id_;
  const uint32_t size_;
  const uint32_t offset_;
  const bool make_iterable_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
