#ifndef AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_TRACING_TRACE_PACKET_WRITER_H_
#define AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_TRACING_TRACE_PACKET_WRITER_H_

#include <memory>
#include <string>
#include <vector>

#include "agent/base/trace_event/perfetto_standin/protozero/message.h"
#include "agent/base/trace_event/perfetto_standin/tracing/track_event_incremental_state.h"

namespace perfetto {

// One trace-packet sequence: hands out one packet at a time and records
// each finished packet's bytes, with the interned data gathered while it
// was open appended as field 12. Belongs to one thread.
class TracePacketWriter {
 public:
  static constexpr uint32_t kInternedDataFieldNumber = 12;

  TracePacketWriter();
  TracePacketWriter(const TracePacketWriter&) = delete;
  TracePacketWriter& operator=(const TracePacketWriter&) = delete;
  ~TracePacketWriter();

  // Finishes the open packet, if any, and opens a new one.
  protozero::Message* NewPacket();
  // Finishes the open packet (nothing when none is open).
  void FinishPacket();

  internal::TrackEventIncrementalState* incremental_state() {
    return &incremental_state_;
  }
  // Every finished packet, oldest first.
  const std::vector<std::string>& packets() const { return packets_; }

 private:
  std::unique_ptr<protozero::Message> packet_;
  internal::TrackEventIncrementalState incremental_state_;
  std::vector<std::string> packets_;
};

}  // namespace perfetto

#endif  // AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_TRACING_TRACE_PACKET_WRITER_H_
