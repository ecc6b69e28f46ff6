#include "agent/base/trace_event/trace_buffer.h"

#include "agent/base/trace_event/trace_buffer_ring_buffer.h"
#include "agent/base/trace_event/trace_buffer_vector.h"

namespace kelmbase {
namespace trace_event {

// static
std::unique_ptr<TraceBuffer> TraceBuffer::CreateTraceBufferVectorOfSize(
    size_t max_chunks) {
  return std::make_unique<TraceBufferVector>(max_chunks);
}

// static
std::unique_ptr<TraceBuffer> TraceBuffer::CreateTraceBufferRingBufferOfSize(
    size_t max_chunks) {
  return std::make_unique<TraceBufferRingBuffer>(max_chunks);
}

}  // namespace trace_event
}  // namespace kelmbase
