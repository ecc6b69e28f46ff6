#include "agent/base/trace_event/trace_buffer_vector.h"

#include <utility>

#include "agent/base/trace_event/heap_context_tracker.h"
#include "agent/base/trace_event/trace_event_memory_overhead.h"
#include "logging/check.h"

namespace kelmbase {
namespace trace_event {

TraceBufferVector::TraceBufferVector(size_t max_chunks)
    : max_chunks_(max_chunks) {
  chunks_.reserve(max_chunks_);
}

TraceBufferVector::~TraceBufferVector() = default;

std::unique_ptr<TraceBufferChunk> TraceBufferVector::GetChunk(size_t* index) {
  // Past the maximum the trace log has already stopped recording; the chunk
  // is still given so that in-flight events and metadata are kept.
  CHECK(chunks_.size() <= kMaxChunkIndex);
  ScopedHeapProfilerIgnore ignore_allocations;
  *index = chunks_.size();
  chunks_.push_back(nullptr);
  ++in_flight_chunk_count_;
  return std::make_unique<TraceBufferChunk>(static_cast<uint32_t>(*index) + 1);
}

void TraceBufferVector::ReturnChunk(size_t index,
                                    std::unique_ptr<TraceBufferChunk> chunk) {
  CHECK(in_flight_chunk_count_ > 0);
  CHECK(index < chunks_.size());
  CHECK(!chunks_[index]);
  --in_flight_chunk_count_;
  chunks_[index] = std::move(chunk);
}

bool TraceBufferVector::IsFull() const {
  return chunks_.size() >= max_chunks_;
}

size_t TraceBufferVector::Size() const {
  return chunks_.size() * TraceBufferChunk::kTraceBufferChunkSize;
}

size_t TraceBufferVector::Capacity() const {
  return max_chunks_ * TraceBufferChunk::kTraceBufferChunkSize;
}

TraceEvent* TraceBufferVector::GetEventByHandle(TraceEventHandle handle) {
  const size_t index = HandleChunkIndex(handle);
  if (index >= chunks_.size())
    return nullptr;
  TraceBufferChunk* chunk = chunks_[index].get();
  if (chunk == nullptr || chunk->seq() != HandleChunkSeq(handle))
    return nullptr;
  return chunk->GetEventAt(HandleEventIndex(handle));
}

const TraceBufferChunk* TraceBufferVector::NextChunk() {
  while (current_iteration_index_ < chunks_.size()) {
    const TraceBufferChunk* chunk = chunks_[current_iteration_index_++].get();
    if (chunk != nullptr)
      return chunk;
  }
  return nullptr;
}

void TraceBufferVector::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  const size_t chunks_ptr_vector_allocated_size =
      sizeof(*this) + max_chunks_ * sizeof(decltype(chunks_)::value_type);
  const size_t chunks_ptr_vector_resident_size =
      sizeof(*this) + chunks_.size() * sizeof(decltype(chunks_)::value_type);
  overhead->Add(TraceEventMemoryOverhead::kTraceBuffer,
                chunks_ptr_vector_allocated_size,
                chunks_ptr_vector_resident_size);
  for (const std::unique_ptr<TraceBufferChunk>& chunk : chunks_) {
    if (chunk)
      chunk->EstimateTraceMemoryOverhead(overhead);
  }
}

}  // namespace trace_event
}  // namespace kelmbase
