#ifndef AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_RING_BUFFER_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_RING_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "agent/base/trace_event/trace_buffer.h"

namespace kelmbase {
namespace trace_event {

// Recycles a fixed number of chunks, oldest first, so it keeps the most
// recent events and is never full. A chunk handed out again is reset with
// a new sequence number, which invalidates the handles into it. When every
// chunk is out at once there is none to give and GetChunk returns null.
class TraceBufferRingBuffer : public TraceBuffer {
 public:
  explicit TraceBufferRingBuffer(size_t max_chunks);
  ~TraceBufferRingBuffer() override;

  std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) override;
  void ReturnChunk(size_t index,
                   std::unique_ptr<TraceBufferChunk> chunk) override;
  bool IsFull() const override;
  size_t Size() const override;
  size_t Capacity() const override;
  TraceEvent* GetEventByHandle(TraceEventHandle handle) override;
  const TraceBufferChunk* NextChunk() override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  bool QueueIsEmpty() const { return queue_head_ == queue_tail_; }
  size_t NextQueueIndex(size_t index) const {
    return index + 1 == queue_capacity() ? 0 : index + 1;
  }
  size_t queue_capacity() const { return recyclable_chunks_queue_.size(); }

  const size_t max_chunks_;
  std::vector<std::unique_ptr<TraceBufferChunk>> chunks_;
  // Indexes of the chunks that may be handed out, oldest first; one spare
  // place tells "empty" apart from "full".
  std::vector<size_t> recyclable_chunks_queue_;
  size_t queue_head_ = 0;
  size_t queue_tail_;
  size_t current_iteration_index_ = 0;
  uint32_t current_chunk_seq_ = 1;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_RING_BUFFER_H_
