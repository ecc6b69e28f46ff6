#include "agent/base/trace_event/trace_macros.h"

namespace kelmbase {
namespace trace_event {

// static
TraceEventHandle ScopedTraceEvent::BeginScopedEvent(
    const TraceCategory* category, const char* name, TraceArgumentSet* args,
    uint32_t flags, uint64_t bind_id) {
  return EmitEventForThread(
      kPhaseComplete, category, name, nullptr, 0, bind_id,
      static_cast<int32_t>(PlatformThread::CurrentId()), MonotonicTime::Now(),
      args, flags);
}

TraceEventHandle EmitSimpleEvent(char phase, const TraceCategory* category,
                                 const char* name, uint64_t id,
                                 TraceArgumentSet* args, uint32_t flags) {
  return EmitEvent(phase, category, name, nullptr, id, args, flags);
}

}  // namespace trace_event
}  // namespace kelmbase
