#ifndef AGENT_BASE_TASK_TASK_OBSERVER_H_
#define AGENT_BASE_TASK_TASK_OBSERVER_H_

#include "agent/base/pending_task.h"

namespace kelmbase {

// Told before and after each task that a sequence manager (or one of its
// queues) runs, on the thread that runs it.
class TaskObserver {
 public:
  // `was_blocked_or_low_priority`: the task became runnable while its queue
  // was blocked by a fence or below normal priority.
  virtual void WillProcessTask(const PendingTask& pending_task,
                               bool was_blocked_or_low_priority) = 0;
  virtual void DidProcessTask(const PendingTask& pending_task) = 0;

 protected:
  virtual ~TaskObserver() = default;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_TASK_OBSERVER_H_
