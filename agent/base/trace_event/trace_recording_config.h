#ifndef AGENT_BASE_TRACE_EVENT_TRACE_RECORDING_CONFIG_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_RECORDING_CONFIG_H_

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "agent/base/trace_event/category_pattern_filter.h"
#include "agent/base/trace_event/event_filter_config.h"

namespace kelmbase {
namespace trace_event {

// Bits of TraceRecordingConfig::record_mode.
enum TraceRecordMode : int {
  // Record until the buffer is full (the default).
  kRecordUntilFull = 1,
  // Record continuously into a ring buffer.
  kRecordContinuously = 2,
  // Echo every event to the log as it is added (ring buffer).
  kEchoToConsole = 8,
  // Record as much as possible into a much larger growing buffer.
  kRecordAsMuchAsPossible = 16,
};

// What the trace log records: the record mode, the buffer size, which
// categories are on and which event filters run. It has no text form. A
// plain value type.
struct TraceRecordingConfig {
  TraceRecordingConfig();
  TraceRecordingConfig(const TraceRecordingConfig&);
  TraceRecordingConfig& operator=(const TraceRecordingConfig&);
  ~TraceRecordingConfig();

  // Everything but the record mode back to its default.
  void ResetKeepingRecordMode();

  int record_mode = kRecordUntilFull;
  // In events; 0 = the record mode's default.
  size_t buffer_size_in_events = 0;
  CategoryPatternFilter category_filter;
  std::vector<EventFilterConfig> event_filters;

  // Carried for embedders; nothing in this program reads them.
  bool enable_systrace = false;
  bool enable_argument_filter = false;
  int memory_dump_setting = 1024;
  std::set<std::string> histogram_names;
  std::set<std::string> process_filter;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_RECORDING_CONFIG_H_
