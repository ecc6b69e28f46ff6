#include "agent/base/threading/scoped_blocking_call.h"

#include <cerrno>

#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_event.h"
#include "agent/base/trace_event/typed_event.h"

namespace kelmbase {

namespace {

constexpr char kBlockingCallSlice[] = "ScopedBlockingCall";
constexpr char kSyncPrimitivesSlice[] =
    "ScopedBlockingCallWithBaseSyncPrimitives";

// The nested message of the slice that names the call's location.
constexpr uint32_t kSourceLocationField = 33;
constexpr uint32_t kFileNameField = 2;
constexpr uint32_t kFunctionNameField = 3;

trace_event::TraceCategory* BaseCategory() {
  return trace_event::CategoryRegistry::Builtin(
      trace_event::CategoryRegistry::kBase);
}

void BeginBlockingSlice(const char* name, const Location& from_here) {
  if (!BaseCategory()->IsEnabledForEvents()) [[likely]]
    return;
  trace_event::TypedEventHandle slice = trace_event::BeginTypedEvent(
      trace_event::kPhaseBegin, BaseCategory(), name, MonotonicTime(),
      /*explicit_track=*/false);
  if (!slice)
    return;
  protozero::Message* location =
      slice.event()->BeginNestedMessage(kSourceLocationField);
  if (from_here.file_name() != nullptr)
    location->AppendString(kFileNameField, from_here.file_name());
  if (from_here.function_name() != nullptr)
    location->AppendString(kFunctionNameField, from_here.function_name());
}

void EndBlockingSlice(const char* name) {
  if (!BaseCategory()->IsEnabledForEvents()) [[likely]]
    return;
  // The caller reads the blocking call's errno after the scope.
  const int saved_errno = errno;
  trace_event::BeginTypedEvent(trace_event::kPhaseEnd, BaseCategory(), name,
                               MonotonicTime(), /*explicit_track=*/false);
  errno = saved_errno;
}

}  // namespace

ScopedBlockingCall::ScopedBlockingCall(const Location& from_here,
                                       BlockingType blocking_type)
    : BlockingScopeBase(from_here, blocking_type, CallKind::kRegular) {
  BeginBlockingSlice(kBlockingCallSlice, from_here);
}

ScopedBlockingCall::~ScopedBlockingCall() {
  EndBlockingSlice(kBlockingCallSlice);
}

ScopedBlockingCallWithBaseSyncPrimitives::
    ScopedBlockingCallWithBaseSyncPrimitives(const Location& from_here,
                                             BlockingType blocking_type)
    : BlockingScopeBase(from_here, blocking_type,
                        CallKind::kBaseSyncPrimitives) {
  BeginBlockingSlice(kSyncPrimitivesSlice, from_here);
}

ScopedBlockingCallWithBaseSyncPrimitives::
    ~ScopedBlockingCallWithBaseSyncPrimitives() {
  EndBlockingSlice(kSyncPrimitivesSlice);
}

}  // namespace kelmbase
