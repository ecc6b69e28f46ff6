#include "agent/base/trace_event/trace_buffer_ring_buffer.h"

#include <utility>

#include "agent/base/trace_event/heap_context_tracker.h"
#include "agent/base/trace_event/trace_event_memory_overhead.h"
#include "logging/check.h"

namespace kelmbase {
namespace trace_event {

TraceBufferRingBuffer::TraceBufferRingBuffer(size_t max_chunks)
    : max_chunks_(max_chunks),
      recyclable_chunks_queue_(max_chunks + 1),
      queue_tail_(max_chunks) {
  chunks_.reserve(max_chunks_);
  for (size_t i = 0; i < max_chunks_; ++i)
    recyclable_chunks_queue_[i] = i;
}

TraceBufferRingBuffer::~TraceBufferRingBuffer() = default;

std::unique_ptr<TraceBufferChunk> TraceBufferRingBuffer::GetChunk(
    size_t* index) {
  // Every chunk is out: handing out the head entry would give one chunk
  // index to two owners.
  if (QueueIsEmpty())
    return nullptr;

  *index = recyclable_chunks_queue_[queue_head_];
  queue_head_ = NextQueueIndex(queue_head_);
  current_iteration_index_ = queue_head_;

  if (*index >= chunks_.size())
    chunks_.resize(*index + 1);

  std::unique_ptr<TraceBufferChunk> chunk = std::move(chunks_[*index]);
  if (chunk) {
    chunk->Reset(current_chunk_seq_++);
  } else {
    ScopedHeapProfilerIgnore ignore_allocations;
    chunk = std::make_unique<TraceBufferChunk>(current_chunk_seq_++);
  }
  return chunk;
}

void TraceBufferRingBuffer::ReturnChunk(
    size_t index, std::unique_ptr<TraceBufferChunk> chunk) {
  CHECK(index < chunks_.size());
  CHECK(!chunks_[index]);
  chunks_[index] = std::move(chunk);
  recyclable_chunks_queue_[queue_tail_] = index;
  queue_tail_ = NextQueueIndex(queue_tail_);
}

bool TraceBufferRingBuffer::IsFull() const {
  return false;
}

size_t TraceBufferRingBuffer::Size() const {
  return chunks_.size() * TraceBufferChunk::kTraceBufferChunkSize;
}

size_t TraceBufferRingBuffer::Capacity() const {
  return max_chunks_ * TraceBufferChunk::kTraceBufferChunkSize;
}

TraceEvent* TraceBufferRingBuffer::GetEventByHandle(TraceEventHandle handle) {
  const size_t index = HandleChunkIndex(handle);
  if (index >= chunks_.size())
    return nullptr;
  TraceBufferChunk* chunk = chunks_[index].get();
  if (chunk == nullptr || chunk->seq() != HandleChunkSeq(handle))
    return nullptr;
  return chunk->GetEventAt(HandleEventIndex(handle));
}

const TraceBufferChunk* TraceBufferRingBuffer::NextChunk() {
  while (current_iteration_index_ != queue_tail_) {
    const size_t chunk_index =
        recyclable_chunks_queue_[current_iteration_index_];
    current_iteration_index_ = NextQueueIndex(current_iteration_index_);
    // Chunks never handed out have no slot yet.
    if (chunk_index < chunks_.size())
      return chunks_[chunk_index].get();
  }
  return nullptr;
}

void TraceBufferRingBuffer::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  overhead->Add(TraceEventMemoryOverhead::kTraceBuffer, sizeof(*this));
  for (size_t queue_index = queue_head_; queue_index != queue_tail_;
       queue_index = NextQueueIndex(queue_index)) {
    const size_t chunk_index = recyclable_chunks_queue_[queue_index];
    if (chunk_index >= chunks_.size())
      continue;
    chunks_[chunk_index]->EstimateTraceMemoryOverhead(overhead);
  }
}

}  // namespace trace_event
}  // namespace kelmbase
