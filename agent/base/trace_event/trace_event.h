#ifndef AGENT_BASE_TRACE_EVENT_TRACE_EVENT_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_EVENT_H_

// The trace-event calls of the task code. Until the trace log exists every
// category reads as disabled: each call compiles to nothing and evaluates
// none of its arguments, so callers build costly arguments only after
// asking TRACE_EVENT_CATEGORY_GROUP_ENABLED. Once recording exists, these
// become the real calls with the same arguments.
//
//   TRACE_EVENT0(category, name)                      scoped slice
//   TRACE_EVENT1(category, name, arg_name, arg_value) scoped slice
//   TRACE_EVENT_BEGIN0 / TRACE_EVENT_END0(category, name)
//   TRACE_EVENT_BEGIN1(category, name, arg_name, arg_value)
//   TRACE_EVENT_INSTANT1(category, name, scope, arg_name, arg_value)
//   TRACE_EVENT_NESTABLE_ASYNC_BEGIN1(category, name, id, arg_name, value)
//   TRACE_EVENT_NESTABLE_ASYNC_END0(category, name, id)
//   TRACE_EVENT_OBJECT_CREATED_WITH_ID(category, name, id)
//   TRACE_EVENT_OBJECT_DELETED_WITH_ID(category, name, id)
//   TRACE_EVENT_OBJECT_SNAPSHOT_WITH_ID(category, name, id, snapshot)
//   TRACE_COUNTER1(category, name, value)
//   TRACE_EVENT_CATEGORY_GROUP_ENABLED(category, bool* ret)

namespace kelmbase {
namespace trace_event_internal {
// Only named in unevaluated operands; never defined.
template <typename... Args>
int Ignore(const Args&... args);
}  // namespace trace_event_internal
}  // namespace kelmbase

// Names the arguments without evaluating them.
#define KELM_TRACE_IGNORE(...) \
  static_cast<void>(sizeof(::kelmbase::trace_event_internal::Ignore(__VA_ARGS__)))

#define TRACE_EVENT0(category, name) KELM_TRACE_IGNORE(category, name)
#define TRACE_EVENT1(category, name, arg_name, arg_value) \
  KELM_TRACE_IGNORE(category, name, arg_name, arg_value)
#define TRACE_EVENT_BEGIN0(category, name) KELM_TRACE_IGNORE(category, name)
#define TRACE_EVENT_BEGIN1(category, name, arg_name, arg_value) \
  KELM_TRACE_IGNORE(category, name, arg_name, arg_value)
#define TRACE_EVENT_END0(category, name) KELM_TRACE_IGNORE(category, name)
#define TRACE_EVENT_INSTANT1(category, name, scope, arg_name, arg_value) \
  KELM_TRACE_IGNORE(category, name, arg_name, arg_value)
#define TRACE_EVENT_NESTABLE_ASYNC_BEGIN1(category, name, id, arg_name, \
                                          arg_value)                    \
  KELM_TRACE_IGNORE(category, name, id, arg_name, arg_value)
#define TRACE_EVENT_NESTABLE_ASYNC_END0(category, name, id) \
  KELM_TRACE_IGNORE(category, name, id)
#define TRACE_EVENT_OBJECT_CREATED_WITH_ID(category, name, id) \
  KELM_TRACE_IGNORE(category, name, id)
#define TRACE_EVENT_OBJECT_DELETED_WITH_ID(category, name, id) \
  KELM_TRACE_IGNORE(category, name, id)
#define TRACE_EVENT_OBJECT_SNAPSHOT_WITH_ID(category, name, id, snapshot) \
  KELM_TRACE_IGNORE(category, name, id)
#define TRACE_COUNTER1(category, name, value) \
  KELM_TRACE_IGNORE(category, name, value)
// The scope argument of instant events: the current thread.
#define TRACE_EVENT_SCOPE_THREAD 't'

#define TRACE_EVENT_CATEGORY_GROUP_ENABLED(category, ret) \
  static_cast<void>(*(ret) = false)

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_EVENT_H_
