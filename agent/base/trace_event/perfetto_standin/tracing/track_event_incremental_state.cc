#include "agent/base/trace_event/perfetto_standin/tracing/track_event_incremental_state.h"

namespace perfetto {
namespace internal {

BaseTrackEventInternedDataIndex::~BaseTrackEventInternedDataIndex() = default;

TrackEventIncrementalState::TrackEventIncrementalState() = default;
TrackEventIncrementalState::~TrackEventIncrementalState() = default;

}  // namespace internal
}  // namespace perfetto
