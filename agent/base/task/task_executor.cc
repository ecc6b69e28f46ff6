#include "agent/base/task/task_executor.h"

#include <atomic>
#include <utility>

#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {

namespace {

ThreadLocalStorage::Slot& CurrentExecutorSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

std::atomic<TaskExecutor*> g_process_wide_executor{nullptr};

}  // namespace

TaskExecutor* GetTaskExecutorForCurrentThread() {
  return static_cast<TaskExecutor*>(CurrentExecutorSlot().Get());
}

void SetTaskExecutorForCurrentThread(TaskExecutor* executor) {
  CurrentExecutorSlot().Set(executor);
}

// static
TaskExecutor* ProcessWideExecutor::Set(TaskExecutor* executor) {
  return g_process_wide_executor.exchange(executor, std::memory_order_acq_rel);
}

// static
TaskExecutor* ProcessWideExecutor::Get() {
  return g_process_wide_executor.load(std::memory_order_acquire);
}

// static
bool ProcessWideExecutor::PostDelayedTask(const Location& from_here,
                                          const TaskTraits& traits,
                                          OneShotClosure task,
                                          Duration delay) {
  TaskExecutor* const executor = Get();
  if (executor == nullptr) return false;
  return executor->PostDelayedTask(from_here, traits, std::move(task), delay);
}

}  // namespace kelmbase
