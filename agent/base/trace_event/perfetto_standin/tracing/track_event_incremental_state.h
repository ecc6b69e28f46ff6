#ifndef AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_TRACING_TRACK_EVENT_INCREMENTAL_STATE_H_
#define AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_TRACING_TRACK_EVENT_INCREMENTAL_STATE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "agent/base/trace_event/perfetto_standin/protozero/message.h"

namespace perfetto {
namespace internal {

class BaseTrackEventInternedDataIndex {
 public:
  BaseTrackEventInternedDataIndex() = default;
  BaseTrackEventInternedDataIndex(const BaseTrackEventInternedDataIndex&) =
      delete;
  BaseTrackEventInternedDataIndex& operator=(
      const BaseTrackEventInternedDataIndex&) = delete;
  virtual ~BaseTrackEventInternedDataIndex();
};

// What one trace-packet sequence remembers between packets: the interning
// indexes (one per interned-data field, at most kMaxInternedDataFields),
// the interned data not yet written into a packet, and the tracks already
// described. Belongs to the one thread that writes the sequence.
struct TrackEventIncrementalState {
  static constexpr size_t kMaxInternedDataFields = 32;

  TrackEventIncrementalState();
  ~TrackEventIncrementalState();

  struct IndexSlot {
    size_t field_number = 0;  // 0: free
    std::unique_ptr<BaseTrackEventInternedDataIndex> index;
  };
  std::array<IndexSlot, kMaxInternedDataFields> interned_indices;

  // Entries added since the last packet was finished; the packet writer
  // moves them into the packet's interned-data field.
  protozero::Message serialized_interned_data;

  // Sorted.
  std::vector<uint64_t> seen_tracks;
};

}  // namespace internal

// What a typed event's writer is given: the event message and its
// sequence's incremental state.
class EventContext {
 public:
  EventContext(protozero::Message* event,
               internal::TrackEventIncrementalState* incremental_state)
      : event_(event), incremental_state_(incremental_state) {}

  protozero::Message* event() const { return event_; }
  internal::TrackEventIncrementalState* GetIncrementalState() const {
    return incremental_state_;
  }

 private:
  protozero::Message* const event_;
  internal::TrackEventIncrementalState* const incremental_state_;
};

}  // namespace perfetto

#endif  // AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_TRACING_TRACK_EVENT_INCREMENTAL_STATE_H_
