#ifndef AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_CHUNK_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_CHUNK_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "agent/base/trace_event/trace_event.h"
#include "logging/check.h"

namespace kelmbase {
namespace trace_event {

class TraceEventMemoryOverhead;

// 64 preallocated event slots filled in order. A chunk belongs to one
// owner at a time (a thread's local buffer, the trace log's shared chunk
// or its trace buffer) and is not thread-safe.
class TraceBufferChunk {
 public:
  static constexpr size_t kTraceBufferChunkSize = 64;

  explicit TraceBufferChunk(uint32_t seq);
  TraceBufferChunk(const TraceBufferChunk&) = delete;
  TraceBufferChunk& operator=(const TraceBufferChunk&) = delete;
  ~TraceBufferChunk();

  // Re-initialises the used slots and takes a new sequence number.
  void Reset(uint32_t new_seq);

  // The next free slot; its index goes to `event_index`. The chunk must not
  // be full.
  TraceEvent* AddTraceEvent(size_t* event_index) {
    // A slot past the end would be shared with whatever follows the chunk.
    CHECK(!IsFull());
    *event_index = next_free_++;
    return &chunk_[*event_index];
  }
  bool IsFull() const { return next_free_ == kTraceBufferChunkSize; }

  size_t size() const { return next_free_; }
  uint32_t seq() const { return seq_; }
  TraceEvent* GetEventAt(size_t index) { return &chunk_[index]; }
  const TraceEvent* GetEventAt(size_t index) const { return &chunk_[index]; }

  // Adds this chunk's memory to `overhead`. The chunk caches what it has
  // counted so that each event is measured once.
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);

 private:
  // What every added event reads, ahead of the slots.
  size_t next_free_ = 0;
  uint32_t seq_;
  std::unique_ptr<TraceEventMemoryOverhead> cached_overhead_estimate_;
  TraceEvent chunk_[kTraceBufferChunkSize];
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_CHUNK_H_
