#ifndef AGENT_BASE_TASK_SEQUENCED_TASK_RUNNER_H_
#define AGENT_BASE_TASK_SEQUENCED_TASK_RUNNER_H_

#include "agent/base/task/task_runner.h"

namespace kelmbase {

// A task runner whose tasks run one after another, in posting order for
// equal delays.
class SequencedTaskRunner : public TaskRunner {
 public:
  // Like PostDelayedTask, but the task never runs inside a nested run loop;
  // it waits until the outer loop runs again.
  virtual bool PostNonNestableDelayedTask(const Location& from_here,
                                          OneShotClosure task,
                                          Duration delay) = 0;

  // True when the calling thread is currently running this runner's
  // sequence. May be called from any thread.
  virtual bool RunsTasksInCurrentSequence() const = 0;

  // Posts a non-nestable task that calls `deleter(object)` on this runner's
  // sequence. The task owns nothing else: if the post is refused, `object`
  // is not destroyed. Returns the post result.
  bool PostDeleteSoon(const Location& from_here,
                      void (*deleter)(const void*), const void* object);

 protected:
  ~SequencedTaskRunner() override = default;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCED_TASK_RUNNER_H_
