#ifndef AGENT_BASE_TASK_TASK_EXECUTOR_H_
#define AGENT_BASE_TASK_TASK_EXECUTOR_H_

#include "agent/base/functional/callback.h"
#include "agent/base/location.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/sequenced_task_runner.h"
#include "agent/base/task/single_thread_task_runner.h"
#include "agent/base/task/task_runner.h"
#include "agent/base/task/task_traits.h"
#include "agent/base/time/time.h"

namespace kelmbase {

// Posts tasks, and makes runners, for a set of traits. Each thread may have
// a current executor (installed by SimpleTaskExecutor for the thread's own
// runner).
class TaskExecutor {
 public:
  virtual ~TaskExecutor() = default;

  // True when accepted; on false the task has been destroyed.
  virtual bool PostDelayedTask(const Location& from_here,
                               const TaskTraits& traits, OneShotClosure task,
                               Duration delay) = 0;
  virtual scoped_refptr<TaskRunner> CreateTaskRunner(
      const TaskTraits& traits) = 0;
  virtual scoped_refptr<SequencedTaskRunner> CreateSequencedTaskRunner(
      const TaskTraits& traits) = 0;
  virtual scoped_refptr<SingleThreadTaskRunner> CreateSingleThreadTaskRunner(
      const TaskTraits& traits, SingleThreadTaskRunnerThreadMode thread_mode) = 0;
};

// The calling thread's current executor, or null.
TaskExecutor* GetTaskExecutorForCurrentThread();
// Makes `executor` (may be null) the calling thread's current executor.
void SetTaskExecutorForCurrentThread(TaskExecutor* executor);

// The executor through which process-wide services post work that belongs
// to no thread in particular. None is installed unless a caller does so;
// posting without one is refused.
//
// Threads: any. The installed executor must outlive every post through it.
class ProcessWideExecutor {
 public:
  ProcessWideExecutor() = delete;

  // Installs `executor` (null removes it); returns the previous one.
  static TaskExecutor* Set(TaskExecutor* executor);
  static TaskExecutor* Get();

  // Posts through the installed executor; false (task destroyed) without
  // one.
  static bool PostDelayedTask(const Location& from_here,
                              const TaskTraits& traits, OneShotClosure task,
                              Duration delay);
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_TASK_EXECUTOR_H_
