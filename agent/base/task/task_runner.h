#ifndef AGENT_BASE_TASK_TASK_RUNNER_H_
#define AGENT_BASE_TASK_TASK_RUNNER_H_

#include "agent/base/functional/callback.h"
#include "agent/base/location.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/time/time.h"

namespace kelmbase {

class TaskRunner;

// Routes the last release of a task runner through its OnDestruct, so that
// an implementation can choose where and how it is destroyed.
struct TaskRunnerTraits {
  static void Destruct(const TaskRunner* task_runner);
};

// Accepts tasks for some sequence or thread; any thread may post to any
// runner. Reference counted; the implementations are the task queues'
// runners and the executors.
class TaskRunner : public RefCountedThreadSafe<TaskRunner, TaskRunnerTraits> {
 public:
  // Posts `task` to run no sooner than `delay` from now. True when the task
  // was accepted; on false it has already been destroyed, on the calling
  // thread.
  virtual bool PostDelayedTask(const Location& from_here, OneShotClosure task,
                               Duration delay) = 0;

  // PostDelayedTask with no delay.
  bool PostTask(const Location& from_here, OneShotClosure task);

  // Runs `task` on this runner, then `reply` on the caller's current
  // sequence, so the caller must run on one (a SequencedTaskRunnerHandle is
  // set) unless the post fails. Whatever happens, `reply` and its bound
  // arguments are destroyed on the caller's sequence, never on this runner's
  // (when that sequence no longer accepts tasks they are leaked instead).
  // False when this runner refused the task; then neither runs and both are
  // destroyed at once on the calling thread.
  bool PostTaskAndReply(const Location& from_here, OneShotClosure task,
                        OneShotClosure reply);

 protected:
  friend struct TaskRunnerTraits;

  TaskRunner();
  virtual ~TaskRunner();

  // Called on the last release. Deletes the runner by default.
  virtual void OnDestruct() const;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_TASK_RUNNER_H_
