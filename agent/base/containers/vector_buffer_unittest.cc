#include "agent/base/containers/vector_buffer.h"

#include <stdlib.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "gtest/gtest.h"

namespace kelmbase {
namespace internal {
namespace {

TEST(VectorBufferTest, IndexMayReachTheSlotCount) {
  VectorBuffer<int> buffer(4);
  EXPECT_EQ(4u, buffer.capacity());
  for (size_t i = 0; i < 4; ++i) buffer[i] = static_cast<int>(i);
  EXPECT_EQ(3, buffer[3]);
  // The end of the range, for forming pointers.
  EXPECT_EQ(buffer.end(), &buffer[4]);
  const VectorBuffer<int>& read_only = buffer;
  EXPECT_EQ(2, read_only[2]);
  EXPECT_EQ(buffer.end(), &read_only[4]);
}

TEST(VectorBufferTest, EmptyBufferHasNoSlots) {
  VectorBuffer<int> buffer;
  EXPECT_EQ(0u, buffer.capacity());
  VectorBuffer<int> zero(0);
  EXPECT_EQ(0u, zero.capacity());
  EXPECT_EQ(nullptr, zero.begin());
}

TEST(VectorBufferTest, MoveTransfersTheSlots) {
  VectorBuffer<int> a(3);
  int* slots = a.begin();
  VectorBuffer<int> b(std::move(a));
  EXPECT_EQ(0u, a.capacity());
  EXPECT_EQ(slots, b.begin());
  VectorBuffer<int> c;
  c = std::move(b);
  EXPECT_EQ(3u, c.capacity());
  EXPECT_EQ(slots, c.begin());
}

TEST(VectorBufferTest, MoveRangeNullsOwningHandles) {
  VectorBuffer<std::unique_ptr<int>> from(3);
  VectorBuffer<std::unique_ptr<int>> to(3);
  for (size_t i = 0; i < 3; ++i) {
    new (&from[i]) std::unique_ptr<int>(new int(static_cast<int>(i) + 10));
  }
  VectorBuffer<std::unique_ptr<int>>::MoveRange(&from[0], &from[3], &to[0]);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(static_cast<int>(i) + 10, *to[i]);
  to.DestructRange(&to[0], &to[3]);
}

TEST(VectorBufferTest, MoveRangeCopiesPlainValues) {
  VectorBuffer<int> buffer(8);
  for (size_t i = 0; i < 4; ++i) buffer[i] = static_cast<int>(i) * 2;
  VectorBuffer<int>::MoveRange(&buffer[0], &buffer[4], &buffer[4]);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(static_cast<int>(i) * 2, buffer[i + 4]);
}

TEST(VectorBufferDeathTest, IndexBeyondTheSlotCountIsFatal) {
  VectorBuffer<int> buffer(2);
  EXPECT_DEATH(buffer[3] = 1, "Check failed: i <= capacity_\n");
  const VectorBuffer<int>& read_only = buffer;
  EXPECT_DEATH((void)read_only[5], "Check failed: i <= capacity_\n");
}

TEST(VectorBufferDeathTest, ReversedRangesAreFatal) {
  VectorBuffer<std::string> buffer(4);
  EXPECT_DEATH(buffer.DestructRange(&buffer[2], &buffer[1]),
               "Check failed: begin <= end\n");
}

TEST(VectorBufferDeathTest, OverlappingMovesAreFatal) {
  VectorBuffer<int> plain(8);
  EXPECT_DEATH(
      VectorBuffer<int>::MoveRange(&plain[0], &plain[4], &plain[2]),
      "Check failed: !RangesOverlap\\(from_begin, from_end, to\\) "
      "from_begin: 0x[0-9a-f]+, from_end: 0x[0-9a-f]+, to: 0x[0-9a-f]+");
  VectorBuffer<std::string> strings(8);
  EXPECT_DEATH(VectorBuffer<std::string>::MoveRange(&strings[2], &strings[4],
                                                    &strings[1]),
               "Check failed: !RangesOverlap\\(from_begin, from_end, to\\)");
}

TEST(VectorBufferDeathTest, OversizedAllocationsAreFatal) {
  EXPECT_DEATH(VectorBuffer<int64_t>(std::numeric_limits<size_t>::max() / 4),
               "Check failed: count <= ");
}

// A buffer the system refuses is never written through. The sanitizers'
// allocators abort on such a request unless told to return null, so the
// child is told to.
TEST(VectorBufferDeathTest, RefusedAllocationIsFatal) {
  const char* old_asan = getenv("ASAN_OPTIONS");
  const char* old_tsan = getenv("TSAN_OPTIONS");
  std::string saved_asan = old_asan ? old_asan : "";
  std::string saved_tsan = old_tsan ? old_tsan : "";
  setenv("ASAN_OPTIONS", (saved_asan + ":allocator_may_return_null=1").c_str(), 1);
  setenv("TSAN_OPTIONS", (saved_tsan + ":allocator_may_return_null=1").c_str(), 1);
  // 2^60 bytes: a valid size that no system can provide.
  EXPECT_DEATH(VectorBuffer<int64_t>(size_t{1} << 57),
               "Check failed: buffer_ != nullptr");
  if (old_asan) {
    setenv("ASAN_OPTIONS", saved_asan.c_str(), 1);
  } else {
    unsetenv("ASAN_OPTIONS");
  }
  if (old_tsan) {
    setenv("TSAN_OPTIONS", saved_tsan.c_str(), 1);
  } else {
    unsetenv("TSAN_OPTIONS");
  }
}

}  // namespace
}  // namespace internal
}  // namespace kelmbase
