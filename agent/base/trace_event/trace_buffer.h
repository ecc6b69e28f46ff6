#ifndef AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_H_

#include <cstddef>
#include <memory>

#include "agent/base/trace_event/trace_buffer_chunk.h"
#include "agent/base/trace_event/trace_event_handle.h"

namespace kelmbase {
namespace trace_event {

class TraceEvent;
class TraceEventMemoryOverhead;

// Storage of event chunks. A caller takes a chunk (GetChunk), fills it
// without the buffer, and gives it back under the same index
// (ReturnChunk). Not thread-safe: the trace log calls every operation
// under its main lock.
class TraceBuffer {
 public:
  TraceBuffer() = default;
  TraceBuffer(const TraceBuffer&) = delete;
  TraceBuffer& operator=(const TraceBuffer&) = delete;
  virtual ~TraceBuffer() = default;

  // An empty chunk for the caller, and its index; null when the buffer has
  // no chunk to give (the caller then drops its event).
  virtual std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) = 0;
  virtual void ReturnChunk(size_t index,
                           std::unique_ptr<TraceBufferChunk> chunk) = 0;

  virtual bool IsFull() const = 0;
  // In events.
  virtual size_t Size() const = 0;
  virtual size_t Capacity() const = 0;
  // The event that `handle` names, or null when its chunk was reset,
  // replaced or never stored.
  virtual TraceEvent* GetEventByHandle(TraceEventHandle handle) = 0;
  // The stored chunks, one per call, then null.
  virtual const TraceBufferChunk* NextChunk() = 0;
  virtual void EstimateTraceMemoryOverhead(
      TraceEventMemoryOverhead* overhead) = 0;

  // A growing buffer that reports full after `max_chunks` chunks.
  static std::unique_ptr<TraceBuffer> CreateTraceBufferVectorOfSize(
      size_t max_chunks);
  // A ring of `max_chunks` chunks that keeps the most recent events.
  static std::unique_ptr<TraceBuffer> CreateTraceBufferRingBufferOfSize(
      size_t max_chunks);
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_BUFFER_H_
