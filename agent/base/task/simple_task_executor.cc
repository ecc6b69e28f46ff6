#include "agent/base/task/simple_task_executor.h"

#include <utility>

namespace kelmbase {

SimpleTaskExecutor::SimpleTaskExecutor(
    scoped_refptr<SingleThreadTaskRunner> task_runner)
    : task_runner_(std::move(task_runner)),
      previous_task_executor_(GetTaskExecutorForCurrentThread()) {
  if (previous_task_executor_ != nullptr)
    SetTaskExecutorForCurrentThread(nullptr);
  SetTaskExecutorForCurrentThread(this);
}

SimpleTaskExecutor::~SimpleTaskExecutor() {
  SetTaskExecutorForCurrentThread(previous_task_executor_);
}

bool SimpleTaskExecutor::PostDelayedTask(const Location& from_here,
                                         const TaskTraits& traits,
                                         OneShotClosure task, Duration delay) {
  return task_runner_->PostDelayedTask(from_here, std::move(task), delay);
}

scoped_refptr<TaskRunner> SimpleTaskExecutor::CreateTaskRunner(
    const TaskTraits& traits) {
  return task_runner_;
}

scoped_refptr<SequencedTaskRunner>
SimpleTaskExecutor::CreateSequencedTaskRunner(const TaskTraits& traits) {
  return task_runner_;
}

scoped_refptr<SingleThreadTaskRunner>
SimpleTaskExecutor::CreateSingleThreadTaskRunner(
    const TaskTraits& traits, SingleThreadTaskRunnerThreadMode thread_mode) {
  return task_runner_;
}

}  // namespace kelmbase
