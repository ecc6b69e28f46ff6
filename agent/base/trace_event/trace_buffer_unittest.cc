#include "agent/base/trace_event/trace_buffer.h"

#include <memory>
#include <string>
#include <vector>

#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_buffer_chunk.h"
#include "agent/base/trace_event/trace_event_memory_overhead.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace trace_event {
namespace {

constexpr size_t kChunkSize = TraceBufferChunk::kTraceBufferChunkSize;

// Fills one slot of `chunk` and returns its handle.
TraceEventHandle AddEvent(TraceBufferChunk* chunk, size_t chunk_index,
                          const char* name) {
  size_t event_index;
  TraceEvent* event = chunk->AddTraceEvent(&event_index);
  event->Reset(1, MonotonicTime(), ThreadCpuTime(), -1, 'I',
               CategoryRegistry::Builtin(CategoryRegistry::kBase), name,
               nullptr, 0, 0, nullptr, 0);
  return MakeTraceEventHandle(chunk->seq(), chunk_index, event_index);
}

TEST(TraceBufferChunkTest, SixtyFourthEventFillsTheChunk) {
  TraceBufferChunk chunk(7);
  TraceEventHandle last = 0;
  for (size_t i = 0; i < kChunkSize; ++i) {
    EXPECT_FALSE(chunk.IsFull());
    last = AddEvent(&chunk, 0, "e");
  }
  EXPECT_TRUE(chunk.IsFull());
  EXPECT_EQ(last >> 58, 63u);
  EXPECT_EQ(HandleChunkSeq(last), 7u);

  chunk.Reset(8);
  EXPECT_EQ(chunk.size(), 0u);
  EXPECT_EQ(chunk.seq(), 8u);
}

// Tells whether it is still alive.
class TrackedConvertable : public ConvertableToTraceFormat {
 public:
  explicit TrackedConvertable(bool* alive) : alive_(alive) { *alive_ = true; }
  ~TrackedConvertable() override { *alive_ = false; }
  void AppendAsTraceFormat(std::string* out) const override {
    out->append("{}");
  }

 private:
  bool* const alive_;
};

// Recycling a chunk releases what its used slots own (owned argument
// values, copied strings) at once, not when each slot is next written.
TEST(TraceBufferChunkTest, ResetReleasesArgumentsAndStringsOfUsedSlots) {
  TraceBufferChunk chunk(1);
  bool alive = false;
  size_t event_index;
  TraceEvent* event = chunk.AddTraceEvent(&event_index);
  TraceArgumentSet args;
  args.AddConvertable("value", std::make_unique<TrackedConvertable>(&alive));
  event->Reset(1, MonotonicTime(), ThreadCpuTime(), -1, 'I',
               CategoryRegistry::Builtin(CategoryRegistry::kBase), "copied",
               nullptr, 0, 0, &args, kFlagCopy);
  ASSERT_TRUE(alive);
  ASSERT_TRUE(event->has_string_storage());

  chunk.Reset(2);
  EXPECT_FALSE(alive);
  EXPECT_FALSE(chunk.GetEventAt(0)->has_string_storage());
  EXPECT_EQ(chunk.GetEventAt(0)->args().size(), 0u);
}

TEST(TraceBufferChunkTest, MemoryEstimateCountsEachEventOnce) {
  TraceBufferChunk chunk(1);
  AddEvent(&chunk, 0, "e");
  TraceEventMemoryOverhead first;
  chunk.EstimateTraceMemoryOverhead(&first);
  EXPECT_EQ(first.GetCount(TraceEventMemoryOverhead::kTraceEvent), 1u);
  EXPECT_EQ(first.GetCount(TraceEventMemoryOverhead::kTraceBufferChunk), 1u);
  EXPECT_EQ(first.GetAllocated(TraceEventMemoryOverhead::kUnusedTraceEvent),
            63 * sizeof(TraceEvent));

  while (!chunk.IsFull())
    AddEvent(&chunk, 0, "e");
  TraceEventMemoryOverhead full;
  chunk.EstimateTraceMemoryOverhead(&full);
  EXPECT_EQ(full.GetCount(TraceEventMemoryOverhead::kTraceEvent), 64u);
  EXPECT_EQ(full.GetCount(TraceEventMemoryOverhead::kUnusedTraceEvent), 0u);
  EXPECT_EQ(full.GetCount(TraceEventMemoryOverhead::kTraceEventMemoryOverhead),
            1u);

  TraceEventMemoryOverhead again;
  chunk.EstimateTraceMemoryOverhead(&again);
  EXPECT_EQ(again.GetCount(TraceEventMemoryOverhead::kTraceEvent), 64u)
      << "a fully counted chunk only adds its cache again";
  EXPECT_EQ(
      again.GetCount(TraceEventMemoryOverhead::kTraceEventMemoryOverhead), 1u);
}

TEST(TraceBufferVectorTest, FullAfterItsLastChunkButStillGivesChunks) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferVectorOfSize(2);
  EXPECT_EQ(buffer->Capacity(), 2 * kChunkSize);
  size_t index0, index1, index2;
  auto chunk0 = buffer->GetChunk(&index0);
  EXPECT_FALSE(buffer->IsFull());
  auto chunk1 = buffer->GetChunk(&index1);
  EXPECT_TRUE(buffer->IsFull());
  EXPECT_EQ(index0, 0u);
  EXPECT_EQ(index1, 1u);
  EXPECT_EQ(chunk0->seq(), 1u);
  EXPECT_EQ(chunk1->seq(), 2u);

  auto chunk2 = buffer->GetChunk(&index2);
  ASSERT_TRUE(chunk2);
  EXPECT_EQ(chunk2->seq(), 3u);
  EXPECT_EQ(buffer->Size(), 3 * kChunkSize);

  const TraceEventHandle handle = AddEvent(chunk1.get(), index1, "kept");
  EXPECT_EQ(buffer->GetEventByHandle(handle), nullptr)
      << "a chunk that is out is not found";
  buffer->ReturnChunk(index1, std::move(chunk1));
  ASSERT_NE(buffer->GetEventByHandle(handle), nullptr);
  EXPECT_STREQ(buffer->GetEventByHandle(handle)->name(), "kept");
  EXPECT_EQ(buffer->GetEventByHandle(MakeTraceEventHandle(9, index1, 0)),
            nullptr)
      << "a sequence mismatch";
  EXPECT_EQ(buffer->GetEventByHandle(MakeTraceEventHandle(1, 99, 0)), nullptr);

  buffer->ReturnChunk(index0, std::move(chunk0));
  buffer->ReturnChunk(index2, std::move(chunk2));
  std::vector<uint32_t> seqs;
  while (const TraceBufferChunk* chunk = buffer->NextChunk())
    seqs.push_back(chunk->seq());
  EXPECT_EQ(seqs, (std::vector<uint32_t>{1, 2, 3}));
}

TEST(TraceBufferRingBufferTest, RecyclesTheOldestChunk) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferRingBufferOfSize(2);
  EXPECT_EQ(buffer->Capacity(), 2 * kChunkSize);
  size_t index;
  auto chunk0 = buffer->GetChunk(&index);
  EXPECT_EQ(index, 0u);
  const TraceEventHandle old_handle = AddEvent(chunk0.get(), 0, "old");
  buffer->ReturnChunk(0, std::move(chunk0));
  auto chunk1 = buffer->GetChunk(&index);
  EXPECT_EQ(index, 1u);
  buffer->ReturnChunk(1, std::move(chunk1));
  EXPECT_NE(buffer->GetEventByHandle(old_handle), nullptr);

  auto again = buffer->GetChunk(&index);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(again->seq(), 3u);
  EXPECT_EQ(again->size(), 0u) << "a recycled chunk starts empty";
  buffer->ReturnChunk(0, std::move(again));
  EXPECT_EQ(buffer->GetEventByHandle(old_handle), nullptr)
      << "a handle into the old contents finds nothing";
  EXPECT_FALSE(buffer->IsFull());
}

// Every chunk is out: there is nothing to hand out, and handing out the
// stale queue entry would give one chunk index to two owners.
TEST(TraceBufferRingBufferTest, NoChunkWhileEveryChunkIsOut) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferRingBufferOfSize(2);
  size_t index0, index1, index2 = 77;
  auto chunk0 = buffer->GetChunk(&index0);
  auto chunk1 = buffer->GetChunk(&index1);
  ASSERT_TRUE(chunk0);
  ASSERT_TRUE(chunk1);
  EXPECT_FALSE(buffer->GetChunk(&index2));
  EXPECT_FALSE(buffer->GetChunk(&index2)) << "asking again changes nothing";

  // Both owners give their chunks back under their own indexes.
  buffer->ReturnChunk(index1, std::move(chunk1));
  buffer->ReturnChunk(index0, std::move(chunk0));
  auto next = buffer->GetChunk(&index2);
  ASSERT_TRUE(next);
  EXPECT_EQ(index2, index1) << "the oldest returned chunk comes back first";
  EXPECT_EQ(next->seq(), 3u);
  buffer->ReturnChunk(index2, std::move(next));
}

TEST(TraceBufferRingBufferTest, IteratesOnlyChunksThatWereHandedOut) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferRingBufferOfSize(4);
  size_t index;
  auto chunk = buffer->GetChunk(&index);
  const TraceBufferChunk* raw = chunk.get();
  buffer->ReturnChunk(index, std::move(chunk));
  EXPECT_EQ(buffer->NextChunk(), raw);
  EXPECT_EQ(buffer->NextChunk(), nullptr);
}

TEST(TraceBufferRingBufferTest, MemoryEstimateCountsReturnedChunks) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferRingBufferOfSize(4);
  size_t index;
  auto chunk = buffer->GetChunk(&index);
  AddEvent(chunk.get(), index, "e");
  buffer->ReturnChunk(index, std::move(chunk));
  TraceEventMemoryOverhead overhead;
  buffer->EstimateTraceMemoryOverhead(&overhead);
  EXPECT_EQ(overhead.GetCount(TraceEventMemoryOverhead::kTraceBuffer), 1u);
  EXPECT_EQ(overhead.GetCount(TraceEventMemoryOverhead::kTraceBufferChunk), 1u);
  EXPECT_EQ(overhead.GetCount(TraceEventMemoryOverhead::kTraceEvent), 1u);
}

}  // namespace
}  // namespace trace_event
}  // namespace kelmbase
