#include "agent/base/trace_event/heap_profiler_event_filter.h"

#include "agent/base/trace_event/heap_context_tracker.h"
#include "agent/base/trace_event/trace_event.h"

namespace kelmbase {
namespace trace_event {

namespace {

HeapContextTracker* TrackerIfCapturing() {
  if (GetHeapContextCaptureMode() == HeapContextCaptureMode::kDisabled)
    return nullptr;
  return HeapContextTracker::ForCurrentThread();
}

}  // namespace

HeapProfilerEventFilter::HeapProfilerEventFilter() = default;
HeapProfilerEventFilter::~HeapProfilerEventFilter() = default;

bool HeapProfilerEventFilter::AcceptEvent(const TraceEvent& event) const {
  if ((event.flags() & kFlagCopy) != 0)
    return true;
  HeapContextTracker* tracker = TrackerIfCapturing();
  if (tracker == nullptr)
    return true;
  if (event.phase() == kPhaseBegin || event.phase() == kPhaseComplete)
    tracker->PushPseudoStackFrame(event.name());
  else if (event.phase() == kPhaseEnd)
    tracker->PopPseudoStackFrame();
  return true;
}

void HeapProfilerEventFilter::EndEvent(const char*, const char*) const {
  HeapContextTracker* tracker = TrackerIfCapturing();
  if (tracker != nullptr)
    tracker->PopPseudoStackFrame();
}

}  // namespace trace_event
}  // namespace kelmbase
