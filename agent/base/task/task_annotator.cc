#include "agent/base/task/task_annotator.h"

#include <array>
#include <cstdint>
#include <utility>

#include "agent/base/debug/activity_tracker.h"
#include "agent/base/debug/keep_value_alive.h"
#include "agent/base/location.h"
#include "agent/base/threading/thread_local_storage.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_macros.h"
#include "agent/base/trace_event/typed_event.h"

namespace kelmbase {

namespace {

// Marks a placeholder task that must not count as running.
constexpr int kPlaceholderSequenceNum = static_cast<int>(0xF00DBAADu);

ThreadLocalStorage::Slot& CurrentTaskSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

ThreadLocalStorage::Slot& IpcContextSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

trace_event::TraceCategory* FlowCategory() {
  return trace_event::CategoryRegistry::Builtin(
      trace_event::CategoryRegistry::kToplevelFlow);
}

trace_event::TraceCategory* IpcCategory() {
  return trace_event::CategoryRegistry::Builtin(
      trace_event::CategoryRegistry::kDisabledByDefaultToplevelIpc);
}

constexpr char kRunTaskSlice[] = "TaskAnnotator::RunTask";
// The slice's nested message: the task's IPC hash and, for a delayed task,
// how long it was meant to wait.
constexpr uint32_t kTaskExecutionField = 1002;
constexpr uint32_t kIpcHashField = 1;
constexpr uint32_t kTaskDelayField = 2;

}  // namespace

TaskAnnotator::ScopedSetIpcContext::ScopedSetIpcContext(
    const char* interface_name, uint32_t hash)
    : interface_name_(interface_name),
      hash_(hash),
      previous_(static_cast<ScopedSetIpcContext*>(IpcContextSlot().Get())) {
  IpcContextSlot().Set(this);
}

TaskAnnotator::ScopedSetIpcContext::~ScopedSetIpcContext() {
  IpcContextSlot().Set(previous_);
}

TaskAnnotator::TaskAnnotator() = default;
TaskAnnotator::~TaskAnnotator() = default;

uint64_t TaskAnnotator::GetTaskTraceId(const PendingTask& task) const {
  return (static_cast<uint64_t>(static_cast<uint32_t>(task.sequence_num))
          << 32) |
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this));
}

void TaskAnnotator::MarkQueued(const char* trace_event_name,
                               PendingTask& pending_task,
                               const char* queue_name) {
  // The start of the task's flow; it ends where the task runs.
  KELM_TRACE_EVENT_WITH_FLAGS_AND_ARGS(
      FlowCategory(), trace_event_name,
      trace_event::kFlagFlowOut | trace_event::kFlagProcessLocalBindId,
      GetTaskTraceId(pending_task),
      kelm_trace_args.AddString("task_queue_name", queue_name));

  if (pending_task.task_backtrace[0] != nullptr)
    return;

  const auto* ipc_context =
      static_cast<const ScopedSetIpcContext*>(IpcContextSlot().Get());
  if (ipc_context != nullptr) {
    pending_task.ipc_interface_name = ipc_context->interface_name_;
    pending_task.ipc_hash = ipc_context->hash_;
  }

  const PendingTask* parent = CurrentTask();
  if (parent == nullptr)
    return;
  pending_task.task_backtrace[0] = parent->posted_from.program_counter();
  for (size_t i = 1; i < pending_task.task_backtrace.size(); ++i)
    pending_task.task_backtrace[i] = parent->task_backtrace[i - 1];
  pending_task.task_backtrace_overflow =
      parent->task_backtrace_overflow ||
      parent->task_backtrace.back() != nullptr;
}

void TaskAnnotator::RunTask(const char* trace_event_name,
                            PendingTask& pending_task) {
  debug::TaskRunActivityScope task_activity(GetCallerAddress(), pending_task);

  const bool ipc_slice = IpcCategory()->IsEnabledForEvents();
  if (ipc_slice) [[unlikely]] {
    trace_event::TypedEventHandle slice = trace_event::BeginTypedEvent(
        trace_event::kPhaseBegin, IpcCategory(), kRunTaskSlice,
        MonotonicTime(), /*explicit_track=*/false);
    if (slice) {
      protozero::Message* execution =
          slice.event()->BeginNestedMessage(kTaskExecutionField);
      execution->AppendVarInt(kIpcHashField, pending_task.ipc_hash);
      if (!pending_task.delayed_run_time.is_null()) {
        execution->AppendVarInt(
            kTaskDelayField,
            static_cast<uint64_t>(
                (pending_task.delayed_run_time - pending_task.queue_time)
                    .InMicroseconds()));
      }
    }
  }
  {
    KELM_TRACE_EVENT_WITH_FLAGS_AND_ARGS(
        FlowCategory(), trace_event_name,
        trace_event::kFlagFlowIn | trace_event::kFlagProcessLocalBindId,
        GetTaskTraceId(pending_task), (void)0);

    // Recognisable in a crash dump of this stack: the task's origin and chain
    // between two markers.
    std::array<uint64_t, 8> task_debug_info = {
        0xC001C0DED017D00Dull,
        reinterpret_cast<uintptr_t>(
            pending_task.posted_from.program_counter()),
        reinterpret_cast<uintptr_t>(pending_task.task_backtrace[0]),
        reinterpret_cast<uintptr_t>(pending_task.task_backtrace[1]),
        reinterpret_cast<uintptr_t>(pending_task.task_backtrace[2]),
        reinterpret_cast<uintptr_t>(pending_task.task_backtrace[3]),
        pending_task.ipc_hash,
        0x00D00D1D1D178119ull,
    };
    debug::KeepValueAlive(task_debug_info.data());

    void* const previous_task = CurrentTaskSlot().Get();
    CurrentTaskSlot().Set(&pending_task);
    std::move(pending_task.task).Run();
    CurrentTaskSlot().Set(previous_task);

    task_debug_info.front() = 0;
    task_debug_info.back() = 0;
    debug::KeepValueAlive(task_debug_info.data());
  }  // The flow event closes here.

  if (ipc_slice && IpcCategory()->IsEnabledForEvents()) [[unlikely]] {
    trace_event::BeginTypedEvent(trace_event::kPhaseEnd, IpcCategory(),
                                 kRunTaskSlice, MonotonicTime(),
                                 /*explicit_track=*/false);
  }
}

// static
const PendingTask* TaskAnnotator::CurrentTask() {
  const auto* task = static_cast<const PendingTask*>(CurrentTaskSlot().Get());
  if (task == nullptr)
    return nullptr;
  const Location& location = task->posted_from;
  if (task->sequence_num == kPlaceholderSequenceNum &&
      (location.function_name() == nullptr ||
       location.file_name() == nullptr) &&
      location.program_counter() == nullptr) {
    return nullptr;
  }
  return task;
}

}  // namespace kelmbase
