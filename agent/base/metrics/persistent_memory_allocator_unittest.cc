#include "agent/base/metrics/persistent_memory_allocator.h"

#include <cstring>
#include <memory>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

using Reference = PersistentMemoryAllocator::Reference;

constexpr uint32_t kTypeA = 0x1001;
constexpr uint32_t kTypeB = 0x2002;

// A zeroed, 8-aligned segment with its allocator.
class Segment {
 public:
  explicit Segment(size_t size, size_t page_size = 4096, bool format = true)
      : words_((size + 7) / 8, 0) {
    if (format) {
      PersistentMemoryAllocator::FormatSegment(words_.data(), size, page_size,
                                               1);
    }
    allocator_ = std::make_unique<PersistentMemoryAllocator>(
        words_.data(), size, page_size, /*read_only=*/false);
  }

  PersistentMemoryAllocator& allocator() { return *allocator_; }
  char* bytes() { return reinterpret_cast<char*>(words_.data()); }
  PersistentSegmentHeader* header() {
    return reinterpret_cast<PersistentSegmentHeader*>(words_.data());
  }
  PersistentBlockHeader* block(Reference ref) {
    return reinterpret_cast<PersistentBlockHeader*>(bytes() + ref);
  }
  uint32_t free_pointer() { return header()->free_pointer.load(); }
  uint32_t flags() { return header()->flags.load(); }

 private:
  std::vector<uint64_t> words_;
  std::unique_ptr<PersistentMemoryAllocator> allocator_;
};

TEST(PersistentMemoryAllocatorTest, FreshSegmentLayout) {
  Segment segment(8192);
  EXPECT_EQ(64u, segment.free_pointer());
  EXPECT_EQ(48u, segment.header()->tail_pointer.load());
  EXPECT_EQ(48u, segment.header()->queue.next.load());
  EXPECT_FALSE(segment.allocator().IsCorrupt());

  const Reference ref = segment.allocator().Allocate(20, kTypeA);
  ASSERT_EQ(64u, ref);
  // 20 data bytes plus the header, rounded up to a multiple of 8.
  EXPECT_EQ(40u, segment.block(ref)->size);
  EXPECT_EQ(PersistentMemoryAllocator::kBlockCookieAllocated,
            segment.block(ref)->cookie);
  EXPECT_EQ(kTypeA, segment.block(ref)->type_id.load());
  EXPECT_EQ(0u, segment.block(ref)->next.load());
  EXPECT_EQ(104u, segment.free_pointer());
  EXPECT_EQ(24u, segment.allocator().GetAllocSize(ref));
}

TEST(PersistentMemoryAllocatorTest, AllocationSkipsTheRestOfAPage) {
  Segment segment(16384, 4096);
  // 64 + 3936 brings the free pointer to 4000.
  ASSERT_NE(0u, segment.allocator().Allocate(3936 - 16, kTypeA));
  ASSERT_EQ(4000u, segment.free_pointer());

  const Reference ref = segment.allocator().Allocate(100, kTypeB);
  EXPECT_EQ(4096u, ref);
  EXPECT_EQ(120u, segment.block(ref)->size);
  // The 96 bytes up to the page end became a wasted block.
  const PersistentBlockHeader* wasted = segment.allocator().GetBlock(
      4000, 0, 0, /*queue_ok=*/false, /*free_ok=*/true);
  ASSERT_NE(nullptr, wasted);
  EXPECT_EQ(96u, wasted->size);
  EXPECT_EQ(PersistentMemoryAllocator::kBlockCookieWasted, wasted->cookie);
  // It is not an allocated block.
  EXPECT_EQ(nullptr, segment.allocator().GetAsObject(4000, 0, 0));
  EXPECT_FALSE(segment.allocator().IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, SmallPageLeftoverJoinsTheBlock) {
  Segment segment(16384, 4096);
  // Leaves 120 bytes in the first page.
  ASSERT_NE(0u, segment.allocator().Allocate(4096 - 120 - 64 - 16, kTypeA));
  ASSERT_EQ(4096u - 120, segment.free_pointer());

  const Reference ref = segment.allocator().Allocate(88, kTypeB);
  ASSERT_EQ(4096u - 120, ref);
  // 104 would leave 16 bytes, less than a header plus 8: it takes all 120.
  EXPECT_EQ(120u, segment.block(ref)->size);
  EXPECT_EQ(104u, segment.allocator().GetAllocSize(ref));
  EXPECT_EQ(4096u, segment.free_pointer());
}

TEST(PersistentMemoryAllocatorTest, RefusedSizesAreNotCorruption) {
  Segment segment(8192);
  const size_t refused[] = {0, PersistentMemoryAllocator::kMaxAllocationSize + 1,
                            // Larger than a page.
                            4096};
  for (size_t size : refused) {
    EXPECT_EQ(0u, segment.allocator().Allocate(size, kTypeA)) << size;
  }
  EXPECT_FALSE(segment.allocator().IsCorrupt());
  EXPECT_EQ(0u, segment.flags());
  EXPECT_EQ(64u, segment.free_pointer());
}

TEST(PersistentMemoryAllocatorTest, FullSegmentSetsTheFullFlagOnly) {
  Segment segment(1024, 0);
  int made = 0;
  while (segment.allocator().Allocate(100, kTypeA) != 0) ++made;
  // (1024 - 64) / 120 blocks fit.
  EXPECT_EQ(8, made);
  EXPECT_EQ(PersistentMemoryAllocator::kFlagFull, segment.flags());
  EXPECT_FALSE(segment.allocator().IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, IterableListLinksBlocksInOrder) {
  Segment segment(8192);
  PersistentMemoryAllocator& allocator = segment.allocator();
  const Reference a = allocator.Allocate(8, kTypeA);
  const Reference b = allocator.Allocate(8, kTypeB);
  const Reference unlisted = allocator.Allocate(8, kTypeA);
  allocator.MakeIterable(a);
  allocator.MakeIterable(b);
  allocator.MakeIterable(b);  // Listing twice changes nothing.

  EXPECT_EQ(a, segment.header()->queue.next.load());
  EXPECT_EQ(b, segment.block(a)->next.load());
  EXPECT_EQ(48u, segment.block(b)->next.load());
  EXPECT_EQ(b, segment.header()->tail_pointer.load());
  EXPECT_EQ(0u, segment.block(unlisted)->next.load());

  PersistentBlockIterator iter(&allocator);
  EXPECT_EQ(0u, iter.GetLast());
  uint32_t type = 0;
  EXPECT_EQ(a, iter.GetNext(&type));
  EXPECT_EQ(kTypeA, type);
  EXPECT_EQ(b, iter.GetNext(&type));
  EXPECT_EQ(kTypeB, type);
  EXPECT_EQ(b, iter.GetLast());
  EXPECT_EQ(0u, iter.GetNext(&type));

  // A block listed later is found by the same iterator.
  allocator.MakeIterable(unlisted);
  EXPECT_EQ(unlisted, iter.GetNext(&type));

  PersistentBlockIterator typed(&allocator);
  EXPECT_EQ(b, typed.GetNextOfType(kTypeB));
  EXPECT_EQ(0u, typed.GetNextOfType(kTypeB));
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, TypedAccessAndReferences) {
  Segment segment(8192);
  PersistentMemoryAllocator& allocator = segment.allocator();
  const Reference ref = allocator.Allocate(32, kTypeA);
  char* data = static_cast<char*>(allocator.GetAsObject(ref, kTypeA, 32));
  ASSERT_EQ(segment.bytes() + ref + 16, data);
  EXPECT_EQ(data, allocator.GetAsObject(ref, 0, 32));  // 0: any type.
  EXPECT_EQ(nullptr, allocator.GetAsObject(ref, kTypeB, 32));
  EXPECT_EQ(nullptr, allocator.GetAsObject(ref, kTypeA, 33));
  EXPECT_EQ(nullptr, allocator.GetAsObject(ref + 8, kTypeA, 8));

  EXPECT_EQ(ref, allocator.GetAsReference(data, kTypeA));
  EXPECT_EQ(0u, allocator.GetAsReference(data, kTypeB));
  EXPECT_EQ(0u, allocator.GetAsReference(segment.bytes() + 8, 0));
  EXPECT_EQ(0u, allocator.GetAsReference(segment.bytes() + 8192, 0));
  EXPECT_EQ(0u, allocator.GetAsReference(data + 8, kTypeA));
}

TEST(PersistentMemoryAllocatorTest, ChangeTypeWithAndWithoutClearing) {
  Segment segment(8192);
  PersistentMemoryAllocator& allocator = segment.allocator();
  const Reference ref = allocator.Allocate(16, kTypeA);
  auto* data = static_cast<uint32_t*>(allocator.GetAsObject(ref, kTypeA, 16));
  data[0] = 7;
  data[3] = 9;

  EXPECT_FALSE(allocator.ChangeType(ref, kTypeB, kTypeB, false));
  EXPECT_TRUE(allocator.ChangeType(ref, kTypeB, kTypeA, false));
  EXPECT_EQ(7u, data[0]);
  EXPECT_TRUE(allocator.ChangeType(ref, kTypeA, kTypeB, true));
  EXPECT_EQ(kTypeA, segment.block(ref)->type_id.load());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(0u, data[i]) << i;
  EXPECT_FALSE(allocator.ChangeType(ref + 8, kTypeB, kTypeA, false));
}

TEST(PersistentMemoryAllocatorTest, LazyBlockIsMadeOnceOnFirstUse) {
  Segment segment(8192);
  PersistentMemoryAllocator& allocator = segment.allocator();
  const Reference holder = allocator.Allocate(8, kTypeA);
  auto* cell = static_cast<std::atomic<uint32_t>*>(
      allocator.GetAsObject(holder, kTypeA, 8));

  LazyPersistentBlock first(&allocator, cell, kTypeB, 64, 0, true);
  LazyPersistentBlock second_half(&allocator, cell, kTypeB, 64, 32, true);
  EXPECT_EQ(0u, cell->load());
  char* memory = static_cast<char*>(first.Get());
  ASSERT_NE(nullptr, memory);
  EXPECT_NE(0u, cell->load());
  EXPECT_EQ(memory + 32, second_half.Get());
  // Made iterable once.
  PersistentBlockIterator iter(&allocator);
  EXPECT_EQ(cell->load(), iter.GetNextOfType(kTypeB));
  EXPECT_EQ(0u, iter.GetNextOfType(kTypeB));
}

TEST(PersistentMemoryAllocatorTest, ReadOnlyAllocatorNeverWrites) {
  Segment segment(8192);
  const Reference ref = segment.allocator().Allocate(8, kTypeA);
  segment.allocator().MakeIterable(ref);
  std::vector<char> before(segment.bytes(), segment.bytes() + 8192);

  PersistentMemoryAllocator reader(segment.bytes(), 8192, 4096,
                                   /*read_only=*/true);
  EXPECT_EQ(0u, reader.Allocate(8, kTypeA));
  PersistentBlockIterator iter(&reader);
  uint32_t type = 0;
  EXPECT_EQ(ref, iter.GetNext(&type));
  reader.SetCorrupt();
  EXPECT_TRUE(reader.IsCorrupt());
  EXPECT_EQ(0, memcmp(before.data(), segment.bytes(), before.size()));
  EXPECT_FALSE(segment.allocator().IsCorrupt());
}

// A damaged segment: its values put references and sizes near the top of
// the 32-bit range, where 32-bit bounds arithmetic would wrap to something
// small and let the check pass. Every case must end in a refusal, inside
// the segment.
struct DamageCase {
  const char* what;
  void (*damage)(Segment& segment, Reference block);
  void (*probe)(Segment& segment, Reference block);
  bool marks_corrupt;
};

const DamageCase kDamageCases[] = {
    {"free pointer near 2^32",
     [](Segment& s, Reference) { s.header()->free_pointer = 0xFFFFFFF8; },
     [](Segment& s, Reference) {
       EXPECT_EQ(0u, s.allocator().Allocate(16, kTypeA));
       EXPECT_TRUE(s.flags() & PersistentMemoryAllocator::kFlagFull);
     },
     false},
    {"free pointer not aligned",
     [](Segment& s, Reference) { s.header()->free_pointer = 203; },
     [](Segment& s, Reference) {
       EXPECT_EQ(0u, s.allocator().Allocate(16, kTypeA));
     },
     true},
    {"reference near 2^32",
     [](Segment&, Reference) {},
     [](Segment& s, Reference) {
       EXPECT_EQ(nullptr, s.allocator().GetAsObject(0xFFFFFFF0, 0, 32));
       EXPECT_EQ(nullptr, s.allocator().GetBlock(0xFFFFFFF0, 0, 32, false,
                                                  /*free_ok=*/true));
       EXPECT_EQ(0u, s.allocator().GetAllocSize(0xFFFFFFF0));
       EXPECT_FALSE(s.allocator().ChangeType(0xFFFFFFF0, 1, 0, true));
     },
     false},
    {"block size near 2^32",
     [](Segment& s, Reference block) { s.block(block)->size = 0xFFFFFFF8; },
     [](Segment& s, Reference block) {
       EXPECT_EQ(nullptr, s.allocator().GetAsObject(block, kTypeA, 8));
       EXPECT_EQ(0u, s.allocator().GetAllocSize(block));
       EXPECT_FALSE(s.allocator().ChangeType(block, kTypeB, kTypeA, true));
     },
     false},
    {"list link near 2^32",
     [](Segment& s, Reference) { s.header()->queue.next = 0xFFFFFFF8; },
     [](Segment& s, Reference) {
       PersistentBlockIterator iter(&s.allocator());
       uint32_t type = 0;
       EXPECT_EQ(0u, iter.GetNext(&type));
     },
     true},
    {"list link to a block without cookie",
     [](Segment& s, Reference block) {
       s.header()->queue.next = block;
       s.block(block)->cookie = 0;
     },
     [](Segment& s, Reference) {
       PersistentBlockIterator iter(&s.allocator());
       uint32_t type = 0;
       EXPECT_EQ(0u, iter.GetNext(&type));
     },
     true},
    {"list runs in a circle",
     [](Segment& s, Reference block) {
       s.header()->queue.next = block;
       s.block(block)->next = block;
     },
     [](Segment& s, Reference) {
       PersistentBlockIterator iter(&s.allocator());
       uint32_t type = 0;
       int returned = 0;
       while (iter.GetNext(&type) != 0) ASSERT_LT(++returned, 1000);
     },
     true},
    {"tail pointer outside the segment",
     [](Segment& s, Reference) { s.header()->tail_pointer = 0xFFFFFFF8; },
     [](Segment& s, Reference block) { s.allocator().MakeIterable(block); },
     true},
    {"appending to a circle",
     [](Segment& s, Reference block) {
       // Two listed blocks pointing at each other; no end of list.
       const Reference other = s.allocator().Allocate(8, kTypeA);
       s.header()->queue.next = block;
       s.block(block)->next = other;
       s.block(other)->next = block;
       s.header()->tail_pointer = block;
     },
     [](Segment& s, Reference) {
       s.allocator().MakeIterable(s.allocator().Allocate(8, kTypeB));
     },
     true},
    {"header of the next block already written",
     [](Segment& s, Reference) {
       s.block(s.free_pointer())->cookie = 0x12345678;
     },
     [](Segment& s, Reference) {
       EXPECT_EQ(0u, s.allocator().Allocate(16, kTypeA));
     },
     true},
};

TEST(PersistentMemoryAllocatorTest, DamagedSegmentsAreRefusedInsideBounds) {
  for (const DamageCase& c : kDamageCases) {
    SCOPED_TRACE(c.what);
    Segment segment(8192);
    const Reference block = segment.allocator().Allocate(8, kTypeA);
    ASSERT_NE(0u, block);
    c.damage(segment, block);
    c.probe(segment, block);
    EXPECT_EQ(c.marks_corrupt, segment.allocator().IsCorrupt());
    if (c.marks_corrupt) {
      // A corrupt segment refuses every later allocation.
      EXPECT_TRUE(segment.flags() & PersistentMemoryAllocator::kFlagCorrupt);
      EXPECT_EQ(0u, segment.allocator().Allocate(8, kTypeA));
    }
  }
}

TEST(PersistentMemoryAllocatorTest, ArbitraryBytesAreWalkedSafely) {
  // An unformatted segment full of a repeating pattern: whatever the
  // header says, allocation and iteration stay inside the segment.
  for (uint8_t fill : {0x00, 0x08, 0x40, 0x7F, 0xFF}) {
    SCOPED_TRACE(static_cast<int>(fill));
    Segment segment(4096, 0, /*format=*/false);
    memset(segment.bytes(), fill, 4096);
    PersistentBlockIterator iter(&segment.allocator());
    uint32_t type = 0;
    int returned = 0;
    while (iter.GetNext(&type) != 0) ASSERT_LT(++returned, 4096 / 24 + 2);
    segment.allocator().Allocate(8, kTypeA);
  }
}

}  // namespace
}  // namespace kelmbase
