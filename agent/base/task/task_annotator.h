#ifndef AGENT_BASE_TASK_TASK_ANNOTATOR_H_
#define AGENT_BASE_TASK_TASK_ANNOTATOR_H_

#include <cstdint>

#include "agent/base/pending_task.h"

namespace kelmbase {

// Called by the thread's controller when a task is queued and when it runs:
// it records the posting chain of each task and tracks which task is
// running on the thread, so that crash dumps and posted tasks can tell where
// work came from. While "toplevel.flow" records, queueing and running a task
// each emit a complete event named by the caller's trace name, linked as one
// flow by GetTaskTraceId.
class TaskAnnotator {
 public:
  // For its lifetime, tasks posted on this thread carry the given IPC
  // context (the message being handled). Scopes nest.
  class ScopedSetIpcContext {
   public:
    ScopedSetIpcContext(const char* interface_name, uint32_t hash);
    ScopedSetIpcContext(const ScopedSetIpcContext&) = delete;
    ScopedSetIpcContext& operator=(const ScopedSetIpcContext&) = delete;
    ~ScopedSetIpcContext();

   private:
    friend class TaskAnnotator;
    const char* const interface_name_;
    const uint32_t hash_;
    ScopedSetIpcContext* const previous_;
  };

  TaskAnnotator();
  TaskAnnotator(const TaskAnnotator&) = delete;
  TaskAnnotator& operator=(const TaskAnnotator&) = delete;
  ~TaskAnnotator();

  // Called when `pending_task` is queued: unless it already has one, gives it
  // the thread's IPC context and the posting chain of the task running now.
  void MarkQueued(const char* trace_event_name, PendingTask& pending_task,
                  const char* queue_name);

  // Runs the task's closure with the task marked as the thread's current
  // one; the closure is released right after it ran. Nests.
  void RunTask(const char* trace_event_name, PendingTask& pending_task);

  // The task running on this thread, or null.
  static const PendingTask* CurrentTask();

  // The id that links a task's trace events from posting to running: its
  // sequence number above the low 32 bits of this annotator's address.
  uint64_t GetTaskTraceId(const PendingTask& task) const;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_TASK_ANNOTATOR_H_
