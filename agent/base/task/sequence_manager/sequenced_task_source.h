#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_SEQUENCED_TASK_SOURCE_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_SEQUENCED_TASK_SOURCE_H_

#include "agent/base/task/sequence_manager/lazy_now.h"
#include "agent/base/task/sequence_manager/select_task_option.h"
#include "agent/base/task/sequence_manager/task.h"
#include "agent/base/time/time.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// How the thread controller drives a sequence manager, on its thread:
// select a task, run it, report it ran; ask how long to sleep; report idle.
class SequencedTaskSource {
 public:
  virtual ~SequencedTaskSource() = default;

  // The next task to run, or null. It stays valid until DidRunTask().
  virtual Task* SelectNextTask(
      SelectTaskOption option = SelectTaskOption::kDefault) = 0;

  // The task from SelectNextTask has run.
  virtual void DidRunTask() = 0;

  // Zero: work now; the largest Duration: nothing scheduled; otherwise the
  // time until the next delayed task.
  virtual Duration DelayTillNextTask(
      LazyNow* lazy_now,
      SelectTaskOption option = SelectTaskOption::kDefault) = 0;

  virtual bool HasPendingHighResolutionTasks() = 0;

  // The thread has nothing to do; true when that made work available.
  virtual bool OnSystemIdle() = 0;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_SEQUENCED_TASK_SOURCE_H_
