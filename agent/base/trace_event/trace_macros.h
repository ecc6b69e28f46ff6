#ifndef AGENT_BASE_TRACE_EVENT_TRACE_MACROS_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_MACROS_H_

// What instrumented code uses to emit trace events.
//
// An event site names a built-in category entry (its address is fixed at
// link time) and tests its state byte; only when the byte is set are the
// arguments evaluated and the event handed to the trace log:
//
//   KELM_TRACE_EVENT0(kelmbase::trace_event::BuiltinCategory(
//                         kelmbase::trace_event::CategoryRegistry::kBase),
//                     "TaskQueueImpl::UnregisterTaskQueue");
//
// With recording off (always, in this program) a site costs one byte load
// and a branch. The scoped forms emit a complete ('X') event that is closed
// when the enclosing block ends; they declare a local, so use them at block
// scope.

#include <cstdint>

#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_arguments.h"
#include "agent/base/trace_event/trace_category.h"
#include "agent/base/trace_event/trace_event.h"
#include "agent/base/trace_event/trace_event_handle.h"
#include "agent/base/trace_event/trace_log.h"

namespace kelmbase {
namespace trace_event {

inline TraceCategory* BuiltinCategory(CategoryRegistry::BuiltinIndex index) {
  return CategoryRegistry::Builtin(index);
}

// A complete event that lasts for the object's scope. Begin it only after
// the category test succeeded; the destructor closes a begun event.
class ScopedTraceEvent {
 public:
  explicit ScopedTraceEvent(const TraceCategory* category)
      : category_(category) {}
  ScopedTraceEvent(const ScopedTraceEvent&) = delete;
  ScopedTraceEvent& operator=(const ScopedTraceEvent&) = delete;
  ~ScopedTraceEvent() {
    if (name_ != nullptr) [[unlikely]]
      CloseEventDuration(category_, name_, handle_);
  }

  // `bind_id` links flow events (flags 0x80 / 0x100).
  void Begin(const char* name, TraceArgumentSet* args, uint32_t flags,
             uint64_t bind_id) {
    name_ = name;
    handle_ = BeginScopedEvent(category_, name, args, flags, bind_id);
  }

  TraceEventHandle handle() const { return handle_; }

 private:
  static TraceEventHandle BeginScopedEvent(const TraceCategory* category,
                                           const char* name,
                                           TraceArgumentSet* args,
                                           uint32_t flags, uint64_t bind_id);

  const TraceCategory* const category_;
  const char* name_ = nullptr;
  TraceEventHandle handle_ = 0;
};

// One event with up to two arguments, on the calling thread, now.
TraceEventHandle EmitSimpleEvent(char phase, const TraceCategory* category,
                                 const char* name, uint64_t id,
                                 TraceArgumentSet* args, uint32_t flags);

}  // namespace trace_event
}  // namespace kelmbase

#define KELM_TRACE_CONCAT2(a, b) a##b
#define KELM_TRACE_CONCAT(a, b) KELM_TRACE_CONCAT2(a, b)
#define KELM_TRACE_LOCAL(prefix) KELM_TRACE_CONCAT(prefix, __LINE__)

// Whether an event of `category` (a TraceCategory*) would be kept.
#define KELM_TRACE_CATEGORY_ENABLED(category) \
  ((category)->IsEnabledForEvents())

// A complete event for the rest of the block, with 0, 1 or 2 arguments.
#define KELM_TRACE_EVENT_WITH_FLAGS_AND_ARGS(category, name, flags, bind_id,  \
                                             ...)                             \
  ::kelmbase::trace_event::ScopedTraceEvent KELM_TRACE_LOCAL(kelm_trace_)(    \
      category);                                                              \
  do {                                                                        \
    if (KELM_TRACE_CATEGORY_ENABLED(category)) [[unlikely]] {                 \
      ::kelmbase::trace_event::TraceArgumentSet kelm_trace_args;              \
      __VA_ARGS__;                                                            \
      KELM_TRACE_LOCAL(kelm_trace_)                                           \
          .Begin(name, &kelm_trace_args, flags, bind_id);                     \
    }                                                                         \
  } while (false)

#define KELM_TRACE_EVENT0(category, name) \
  KELM_TRACE_EVENT_WITH_FLAGS_AND_ARGS(category, name, 0, 0, (void)0)
#define KELM_TRACE_EVENT1(category, name, arg1_name, arg1_value)  \
  KELM_TRACE_EVENT_WITH_FLAGS_AND_ARGS(                           \
      category, name, 0, 0, kelm_trace_args.Add(arg1_name, arg1_value))
#define KELM_TRACE_EVENT2(category, name, arg1_name, arg1_value, arg2_name, \
                          arg2_value)                                       \
  KELM_TRACE_EVENT_WITH_FLAGS_AND_ARGS(                                     \
      category, name, 0, 0, kelm_trace_args.Add(arg1_name, arg1_value);     \
      kelm_trace_args.Add(arg2_name, arg2_value))

// One event of `phase` now, with 0, 1 or 2 arguments.
#define KELM_TRACE_EMIT_WITH_ARGS(phase, category, name, id, flags, ...)   \
  do {                                                                     \
    if (KELM_TRACE_CATEGORY_ENABLED(category)) [[unlikely]] {              \
      ::kelmbase::trace_event::TraceArgumentSet kelm_trace_args;           \
      __VA_ARGS__;                                                         \
      ::kelmbase::trace_event::EmitSimpleEvent(phase, category, name, id,  \
                                               &kelm_trace_args, flags);   \
    }                                                                      \
  } while (false)

#define KELM_TRACE_EVENT_BEGIN0(category, name)                          \
  KELM_TRACE_EMIT_WITH_ARGS(::kelmbase::trace_event::kPhaseBegin,        \
                            category, name, 0, 0, (void)0)
#define KELM_TRACE_EVENT_BEGIN1(category, name, arg1_name, arg1_value)   \
  KELM_TRACE_EMIT_WITH_ARGS(::kelmbase::trace_event::kPhaseBegin,        \
                            category, name, 0, 0,                        \
                            kelm_trace_args.Add(arg1_name, arg1_value))
#define KELM_TRACE_EVENT_END0(category, name)                            \
  KELM_TRACE_EMIT_WITH_ARGS(::kelmbase::trace_event::kPhaseEnd, category, \
                            name, 0, 0, (void)0)
#define KELM_TRACE_EVENT_INSTANT0(category, name)                         \
  KELM_TRACE_EMIT_WITH_ARGS(::kelmbase::trace_event::kPhaseInstant,       \
                            category, name, 0, 0, (void)0)
#define KELM_TRACE_EVENT_INSTANT1(category, name, arg1_name, arg1_value)  \
  KELM_TRACE_EMIT_WITH_ARGS(::kelmbase::trace_event::kPhaseInstant,       \
                            category, name, 0, 0,                         \
                            kelm_trace_args.Add(arg1_name, arg1_value))
// A counter event whose argument "value" is `value`.
#define KELM_TRACE_COUNTER1(category, name, value)                        \
  KELM_TRACE_EMIT_WITH_ARGS(::kelmbase::trace_event::kPhaseCounter,       \
                            category, name, 0, 0,                         \
                            kelm_trace_args.Add("value", value))
#define KELM_TRACE_EVENT_OBJECT_CREATED_WITH_ID(category, name, id)       \
  KELM_TRACE_EMIT_WITH_ARGS(::kelmbase::trace_event::kPhaseCreateObject,  \
                            category, name, id,                           \
                            ::kelmbase::trace_event::kFlagHasId, (void)0)
#define KELM_TRACE_EVENT_OBJECT_DELETED_WITH_ID(category, name, id)       \
  KELM_TRACE_EMIT_WITH_ARGS(::kelmbase::trace_event::kPhaseDeleteObject,  \
                            category, name, id,                           \
                            ::kelmbase::trace_event::kFlagHasId, (void)0)
#define KELM_TRACE_EVENT_ASYNC_BEGIN1(category, name, id, arg1_name,      \
                                      arg1_value)                         \
  KELM_TRACE_EMIT_WITH_ARGS(::kelmbase::trace_event::kPhaseAsyncBegin,    \
                            category, name, id,                           \
                            ::kelmbase::trace_event::kFlagHasId,          \
                            kelm_trace_args.Add(arg1_name, arg1_value))
// Ends the asynchronous event that the begin with the same category, name
// and id opened.
#define KELM_TRACE_EVENT_ASYNC_END0(category, name, id)                   \
  KELM_TRACE_EMIT_WITH_ARGS(::kelmbase::trace_event::kPhaseAsyncEnd,      \
                            category, name, id,                           \
                            ::kelmbase::trace_event::kFlagHasId, (void)0)
// A snapshot of the object `id`: `snapshot` (a
// std::unique_ptr<ConvertableToTraceFormat>, built only when the category
// is on) becomes the argument "snapshot".
#define KELM_TRACE_EVENT_OBJECT_SNAPSHOT_WITH_ID(category, name, id,      \
                                                 snapshot)                \
  KELM_TRACE_EMIT_WITH_ARGS(::kelmbase::trace_event::kPhaseSnapshotObject, \
                            category, name, id,                           \
                            ::kelmbase::trace_event::kFlagHasId,          \
                            kelm_trace_args.AddConvertable("snapshot",    \
                                                           snapshot))

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_MACROS_H_
