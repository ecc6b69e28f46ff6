#ifndef AGENT_BASE_TASK_SEQUENCED_TASK_RUNNER_HANDLE_H_
#define AGENT_BASE_TASK_SEQUENCED_TASK_RUNNER_HANDLE_H_

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/sequenced_task_runner.h"

namespace kelmbase {

// Tells code running on a thread which sequenced runner it is running on.
// While a handle lives, it is the thread's current one.
class SequencedTaskRunnerHandle {
 public:
  // The current sequence's runner. Fatal when the thread has no handle.
  static scoped_refptr<SequencedTaskRunner> Get();
  // Whether the thread has a handle.
  static bool IsSet();

  // Takes over the reference given and becomes the thread's handle.
  explicit SequencedTaskRunnerHandle(
      scoped_refptr<SequencedTaskRunner> task_runner);
  SequencedTaskRunnerHandle(const SequencedTaskRunnerHandle&) = delete;
  SequencedTaskRunnerHandle& operator=(const SequencedTaskRunnerHandle&) =
      delete;
  // Clears the thread's handle, then releases the runner.
  ~SequencedTaskRunnerHandle();

 private:
  scoped_refptr<SequencedTaskRunner> task_runner_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCED_TASK_RUNNER_HANDLE_H_
