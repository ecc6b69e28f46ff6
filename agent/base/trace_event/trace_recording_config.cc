#include "agent/base/trace_event/trace_recording_config.h"

namespace kelmbase {
namespace trace_event {

TraceRecordingConfig::TraceRecordingConfig() = default;
TraceRecordingConfig::TraceRecordingConfig(const TraceRecordingConfig&) =
    default;
TraceRecordingConfig& TraceRecordingConfig::operator=(
    const TraceRecordingConfig&) = default;
TraceRecordingConfig::~TraceRecordingConfig() = default;

void TraceRecordingConfig::ResetKeepingRecordMode() {
  const int mode = record_mode;
  *this = TraceRecordingConfig();
  record_mode = mode;
}

}  // namespace trace_event
}  // namespace kelmbase
