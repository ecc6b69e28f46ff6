#ifndef AGENT_BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_

#include <cstddef>
#include <cstdint>

namespace kelmbase {
namespace trace_event {

// Names a recorded event in a trace buffer:
//   bits 0-31   the chunk's sequence number (never 0 for a real event)
//   bits 32-57  the chunk's index in the buffer
//   bits 58-63  the event's slot in the chunk
// A handle whose sequence number is 0 (0 in particular) names no event.
using TraceEventHandle = uint64_t;

inline constexpr size_t kMaxChunkIndex = (size_t{1} << 26) - 1;

constexpr TraceEventHandle MakeTraceEventHandle(uint32_t chunk_seq,
                                                size_t chunk_index,
                                                size_t event_index) {
  return uint64_t{chunk_seq} |
         (uint64_t{chunk_index & kMaxChunkIndex} << 32) |
         (uint64_t{event_index & 63} << 58);
}
constexpr uint32_t HandleChunkSeq(TraceEventHandle handle) {
  return static_cast<uint32_t>(handle);
}
constexpr size_t HandleChunkIndex(TraceEventHandle handle) {
  return static_cast<size_t>((handle >> 32) & kMaxChunkIndex);
}
constexpr size_t HandleEventIndex(TraceEventHandle handle) {
  return static_cast<size_t>(handle >> 58);
}

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_
