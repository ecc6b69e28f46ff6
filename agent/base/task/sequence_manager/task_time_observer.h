#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_TIME_OBSERVER_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_TIME_OBSERVER_H_

#include "agent/base/time/time.h"

namespace kelmbase {
namespace sequence_manager {

// Told the start and end times of the tasks a sequence manager runs at the
// outermost nesting level, on its thread.
class TaskTimeObserver {
 public:
  virtual ~TaskTimeObserver() = default;
  virtual void WillProcessTask(MonotonicTime start_time) = 0;
  virtual void DidProcessTask(MonotonicTime start_time,
                              MonotonicTime end_time) = 0;
};

}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_TIME_OBSERVER_H_
