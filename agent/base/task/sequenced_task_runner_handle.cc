#include "agent/base/task/sequenced_task_runner_handle.h"

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
scoped_refptr<SequencedTaskRunner> SequencedTaskRunnerHandle::Get() {
  const auto* current =
      static_cast<const SequencedTaskRunnerHandle*>(HandleSlot().Get());
  CHECK(current)
      << "Error: This caller requires a sequenced context (i.e. the current "
         "task needs to run from a SequencedTaskRunner). If you're in a test "
         "refer to //docs/threading_and_tasks_testing.md.";
  return current->task_runner_;
}

// static
bool SequencedTaskRunnerHandle::IsSet() {
  return HandleSlot().Get() != nullptr;
}

SequencedTaskRunnerHandle::SequencedTaskRunnerHandle(
    scoped_refptr<SequencedTaskRunner> task_runner)
    : task_runner_(std::move(task_runner)) {
  HandleSlot().Set(this);
}

SequencedTaskRunnerHandle::~SequencedTaskRunnerHandle() {
  HandleSlot().Set(nullptr);
  task_runner_.reset();
}

}  // namespace kelmbase
