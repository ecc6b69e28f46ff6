#ifndef AGENT_BASE_TASK_THREAD_TASK_RUNNER_HANDLE_H_
#define AGENT_BASE_TASK_THREAD_TASK_RUNNER_HANDLE_H_

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/sequenced_task_runner_handle.h"
#include "agent/base/task/single_thread_task_runner.h"

namespace kelmbase {

// Tells code running on a thread which single-thread runner serves it. A
// thread handle is also the thread's sequenced handle. The thread's
// controller makes one for each thread that runs tasks.
class ThreadTaskRunnerHandle {
 public:
  // The current thread's runner. Fatal when the thread has no handle.
  static scoped_refptr<SingleThreadTaskRunner> Get();
  // Whether the thread has a handle.
  static bool IsSet();

  // Takes over the reference given and becomes the thread's handle (and,
  // through an embedded handle, its sequenced handle).
  explicit ThreadTaskRunnerHandle(
      scoped_refptr<SingleThreadTaskRunner> task_runner);
  ThreadTaskRunnerHandle(const ThreadTaskRunnerHandle&) = delete;
  ThreadTaskRunnerHandle& operator=(const ThreadTaskRunnerHandle&) = delete;
  // Clears the thread handle, then the sequenced one, then releases the
  // runner.
  ~ThreadTaskRunnerHandle();

 private:
  scoped_refptr<SingleThreadTaskRunner> task_runner_;
  SequencedTaskRunnerHandle sequenced_task_runner_handle_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_THREAD_TASK_RUNNER_HANDLE_H_
