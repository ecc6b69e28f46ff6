#include "agent/base/task/thread_task_runner_handle.h"

#include <utility>

#include "agent/base/threading/thread_local_storage.h"
#include "logging/check.h"

namespace kelmbase {

namespace {

ThreadLocalStorage::Slot& HandleSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

}  // namespace

// static
scoped_refptr<SingleThreadTaskRunner> ThreadTaskRunnerHandle::Get() {
  const auto* current =
      static_cast<const ThreadTaskRunnerHandle*>(HandleSlot().Get());
  CHECK(current)
      << "Error: This caller requires a single-threaded context (i.e. the "
         "current task needs to run from a SingleThreadTaskRunner). If you're "
         "in a test refer to //docs/threading_and_tasks_testing.md.";
  return current->task_runner_;
}

// static
bool ThreadTaskRunnerHandle::IsSet() {
  return HandleSlot().Get() != nullptr;
}

ThreadTaskRunnerHandle::ThreadTaskRunnerHandle(
    scoped_refptr<SingleThreadTaskRunner> task_runner)
    : task_runner_(std::move(task_runner)),
      sequenced_task_runner_handle_(task_runner_) {
  HandleSlot().Set(this);
}

ThreadTaskRunnerHandle::~ThreadTaskRunnerHandle() {
  // Members then go in reverse order: the embedded handle, then the runner.
  HandleSlot().Set(nullptr);
}

}  // namespace kelmbase
