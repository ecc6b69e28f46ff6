#ifndef AGENT_BASE_TASK_SINGLE_THREAD_TASK_RUNNER_H_
#define AGENT_BASE_TASK_SINGLE_THREAD_TASK_RUNNER_H_

#include "agent/base/task/sequenced_task_runner.h"

namespace kelmbase {

// A sequenced task runner bound to one thread: its tasks always run there.
class SingleThreadTaskRunner : public SequencedTaskRunner {
 protected:
  ~SingleThreadTaskRunner() override = default;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SINGLE_THREAD_TASK_RUNNER_H_
