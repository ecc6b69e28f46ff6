#include "agent/base/threading/thread_restrictions.h"

#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/interned_source_location.h"
#include "agent/base/trace_event/trace_event.h"
#include "agent/base/trace_event/typed_event.h"

namespace kelmbase {

namespace {

constexpr char kSliceName[] = "ScopedAllowBaseSyncPrimitivesOutsideBlockingScope";
// Event field holding the interned id of the scope's location.
constexpr uint32_t kSourceLocationIidField = 34;

trace_event::TraceCategory* BaseCategory() {
  return trace_event::CategoryRegistry::Builtin(
      trace_event::CategoryRegistry::kBase);
}

}  // namespace

ScopedAllowBaseSyncPrimitivesOutsideBlockingScope::
    ScopedAllowBaseSyncPrimitivesOutsideBlockingScope(
        const Location& from_here) {
  if (!BaseCategory()->IsEnabledForEvents()) [[likely]]
    return;
  trace_event::TypedEventHandle slice = trace_event::BeginTypedEvent(
      trace_event::kPhaseBegin, BaseCategory(), kSliceName, MonotonicTime(),
      /*explicit_track=*/false);
  if (!slice)
    return;
  perfetto::EventContext context = slice.context();
  const uint64_t iid = trace_event::InternedSourceLocation::Get(
      &context, trace_event::TraceSourceLocation{from_here.function_name(),
                                                 from_here.file_name(),
                                                 from_here.line_number()});
  slice.event()->AppendVarInt(kSourceLocationIidField, iid);
}

ScopedAllowBaseSyncPrimitivesOutsideBlockingScope::
    ~ScopedAllowBaseSyncPrimitivesOutsideBlockingScope() {
  if (!BaseCategory()->IsEnabledForEvents()) [[likely]]
    return;
  trace_event::BeginTypedEvent(trace_event::kPhaseEnd, BaseCategory(),
                               kSliceName, MonotonicTime(),
                               /*explicit_track=*/false);
}

}  // namespace kelmbase
