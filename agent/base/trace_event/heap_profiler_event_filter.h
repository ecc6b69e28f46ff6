#ifndef AGENT_BASE_TRACE_EVENT_HEAP_PROFILER_EVENT_FILTER_H_
#define AGENT_BASE_TRACE_EVENT_HEAP_PROFILER_EVENT_FILTER_H_

#include "agent/base/trace_event/trace_event_filter.h"

namespace kelmbase {
namespace trace_event {

// Feeds the emitting thread's heap-profiling pseudo stack from trace
// events while capture is on: begin and complete events push their name,
// end events and closed complete events pop it. Events with the copy flag
// are skipped (their names do not outlive the event). Keeps every event.
class HeapProfilerEventFilter : public TraceEventFilter {
 public:
  static constexpr char kName[] = "heap_profiler_predicate";

  HeapProfilerEventFilter();
  ~HeapProfilerEventFilter() override;

  bool AcceptEvent(const TraceEvent& event) const override;
  void EndEvent(const char* category_group,
                const char* event_name) const override;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_HEAP_PROFILER_EVENT_FILTER_H_
