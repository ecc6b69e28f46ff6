#ifndef AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_VECTOR_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_VECTOR_H_

#include <cstddef>
#include <memory>
#include <vector>

#include "agent/base/trace_event/trace_buffer.h"

namespace kelmbase {
namespace trace_event {

// Appends a new chunk for every request; chunk i has sequence number
// i + 1. Full once `max_chunks` chunks were handed out, but it keeps
// handing out chunks past that, so that events already in flight and the
// closing metadata still find room.
class TraceBufferVector : public TraceBuffer {
 public:
  explicit TraceBufferVector(size_t max_chunks);
  ~TraceBufferVector() override;

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
  size_t in_flight_chunk_count_ = 0;
  size_t current_iteration_index_ = 0;
  const size_t max_chunks_;
  std::vector<std::unique_ptr<TraceBufferChunk>> chunks_;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_VECTOR_H_
