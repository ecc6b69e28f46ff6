#include "agent/base/trace_event/trace_buffer_chunk.h"

#include "agent/base/trace_event/trace_event_memory_overhead.h"
#include "logging/check.h"

namespace kelmbase {
namespace trace_event {

TraceBufferChunk::TraceBufferChunk(uint32_t seq) : seq_(seq) {}

TraceBufferChunk::~TraceBufferChunk() = default;

void TraceBufferChunk::Reset(uint32_t new_seq) {
  for (size_t i = 0; i < next_free_; ++i)
    chunk_[i].ReleaseArgumentsAndStorage();
  next_free_ = 0;
  seq_ = new_seq;
  cached_overhead_estimate_.reset();
}

void TraceBufferChunk::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  if (!cached_overhead_estimate_) {
    cached_overhead_estimate_ = std::make_unique<TraceEventMemoryOverhead>();
    // The chunk itself, without its event slots: each event is counted on
    // its own below.
    cached_overhead_estimate_->Add(
        TraceEventMemoryOverhead::kTraceBufferChunk,
        sizeof(*this) - sizeof(chunk_));
  }

  const size_t counted = cached_overhead_estimate_->GetCount(
      TraceEventMemoryOverhead::kTraceEvent);
  // A full chunk whose events are all counted only adds its cache again.
  if (counted < next_free_) {
    for (size_t i = counted; i < next_free_; ++i)
      chunk_[i].EstimateTraceMemoryOverhead(cached_overhead_estimate_.get());
    if (IsFull()) {
      cached_overhead_estimate_->AddSelf();
    }
  }
  if (!IsFull()) {
    const size_t unused = kTraceBufferChunkSize - next_free_;
    overhead->Add(TraceEventMemoryOverhead::kUnusedTraceEvent,
                  unused * sizeof(TraceEvent));
  }
  overhead->Update(*cached_overhead_estimate_);
}

}  // namespace trace_event
}  // namespace kelmbase
