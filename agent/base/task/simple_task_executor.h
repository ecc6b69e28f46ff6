#ifndef AGENT_BASE_TASK_SIMPLE_TASK_EXECUTOR_H_
#define AGENT_BASE_TASK_SIMPLE_TASK_EXECUTOR_H_

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/single_thread_task_runner.h"
#include "agent/base/task/task_executor.h"

namespace kelmbase {

// The executor of a thread with one runner: every post and every runner it
// makes goes to that runner, whatever the traits. While it lives it is the
// thread's current executor; destroying it restores the one it replaced.
//
// Threads: made and destroyed on the thread it serves (strictly nested with
// other executors there); posting through it from any thread.
class SimpleTaskExecutor : public TaskExecutor {
 public:
  explicit SimpleTaskExecutor(scoped_refptr<SingleThreadTaskRunner> task_runner);
  SimpleTaskExecutor(const SimpleTaskExecutor&) = delete;
  SimpleTaskExecutor& operator=(const SimpleTaskExecutor&) = delete;
  ~SimpleTaskExecutor() override;

  bool PostDelayedTask(const Location& from_here, const TaskTraits& traits,
                       OneShotClosure task, Duration delay) override;
  scoped_refptr<TaskRunner> CreateTaskRunner(const TaskTraits& traits) override;
  scoped_refptr<SequencedTaskRunner> CreateSequencedTaskRunner(
      const TaskTraits& traits) override;
  scoped_refptr<SingleThreadTaskRunner> CreateSingleThreadTaskRunner(
      const TaskTraits& traits,
      SingleThreadTaskRunnerThreadMode thread_mode) override;

 private:
  const scoped_refptr<SingleThreadTaskRunner> task_runner_;
  TaskExecutor* const previous_task_executor_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SIMPLE_TASK_EXECUTOR_H_
