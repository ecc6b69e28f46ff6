#include "agent/base/task/sequence_manager/work_queue.h"

#include <cstring>
#include <utility>

#include "agent/base/debug/keep_value_alive.h"
#include "agent/base/task/sequence_manager/task_queue_impl.h"
#include "agent/base/task/sequence_manager/work_queue_sets.h"
#include "logging/check.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

WorkQueue::TaskPusher::TaskPusher(WorkQueue* work_queue)
    : work_queue_(work_queue), was_empty_(work_queue->Empty()) {}

WorkQueue::TaskPusher::TaskPusher(TaskPusher&& other)
    : work_queue_(other.work_queue_), was_empty_(other.was_empty_) {
  other.work_queue_ = nullptr;
}

WorkQueue::TaskPusher::~TaskPusher() {
  if (!work_queue_) return;
  if (was_empty_ && !work_queue_->Empty() && work_queue_->work_queue_sets_ &&
      !work_queue_->BlockedByFence()) {
    work_queue_->work_queue_sets_->OnTaskPushedToEmptyQueue(work_queue_);
  }
}

void WorkQueue::TaskPusher::Push(Task task) {
  work_queue_->tasks_.push_back(std::move(task));
}

WorkQueue::WorkQueue(TaskQueueImpl* task_queue, const char* name,
                     QueueType type)
    : task_queue_(task_queue), name_(name), queue_type_(type) {}

WorkQueue::~WorkQueue() = default;

const Task* WorkQueue::GetBackTask() const { return tasks_.back(); }

bool WorkQueue::BlockedByFence() const {
  if (fence_ == kNoEnqueueOrder) return false;
  return tasks_.empty() || tasks_.front()->enqueue_order() >= fence_;
}

bool WorkQueue::GetFrontTaskEnqueueOrder(EnqueueOrder* enqueue_order) const {
  if (tasks_.empty() || BlockedByFence()) return false;
  *enqueue_order = tasks_.front()->enqueue_order();
  return true;
}

WorkQueue::TaskPusher WorkQueue::CreateTaskPusher() { return TaskPusher(this); }

void WorkQueue::PushNonNestableTaskToFront(Task task) {
  const bool was_empty = tasks_.empty();
  const bool was_blocked = BlockedByFence();
  tasks_.push_front(std::move(task));
  if (!work_queue_sets_) return;
  if (BlockedByFence()) return;
  if (was_empty || was_blocked) {
    work_queue_sets_->OnTaskPushedToEmptyQueue(this);
  } else {
    work_queue_sets_->OnQueuesFrontTaskChanged(this);
  }
}

void WorkQueue::TakeImmediateIncomingQueueTasks() {
  CHECK(tasks_.empty());
  task_queue_->TakeImmediateIncomingQueueTasks(&tasks_);
  if (tasks_.empty()) return;
  if (work_queue_sets_ && !BlockedByFence())
    work_queue_sets_->OnTaskPushedToEmptyQueue(this);
}

void WorkQueue::OnBecameEmpty() {
  // An immediate work queue pulls in the incoming tasks at once, so the
  // sets see the next front without waiting for the reload flag.
  if (queue_type_ == QueueType::kImmediate)
    task_queue_->TakeImmediateIncomingQueueTasks(&tasks_);
  tasks_.MaybeShrinkQueue();
}

Task WorkQueue::TakeTaskFromWorkQueue() {
  CHECK(work_queue_sets_);
  CHECK(!tasks_.empty());
  Task task = tasks_.TakeFront();
  if (tasks_.empty()) OnBecameEmpty();
  work_queue_sets_->OnPopMinQueueInSet(this);
  task_queue_->TraceQueueSize();
  return task;
}

bool WorkQueue::RemoveAllCanceledTasksFromFront() {
  if (!work_queue_sets_) return false;
  // Destroyed when this returns, after the sets are up to date: destroying
  // a task may run code that posts to this queue.
  TaskDeque removed;
  while (const Task* front = tasks_.front()) {
    char function_name[16] = {};
    char file_name[16] = {};
    if (front->posted_from.function_name())
      strncpy(function_name, front->posted_from.function_name(),
              sizeof(function_name) - 1);
    if (front->posted_from.file_name())
      strncpy(file_name, front->posted_from.file_name(), sizeof(file_name) - 1);
    int line = front->posted_from.line_number();
    const void* task_address = front;
    const void* program_counter = front->posted_from.program_counter();
    debug::KeepValueAlive(function_name);
    debug::KeepValueAlive(file_name);
    debug::KeepValueAlive(&line);
    debug::KeepValueAlive(&task_address);
    debug::KeepValueAlive(&program_counter);
    if (!front->IsCancelledOrEmpty()) break;
    removed.push_back(tasks_.TakeFront());
  }
  if (removed.empty()) return false;
  if (tasks_.empty()) OnBecameEmpty();
  if (heap_handle_ >= 0) work_queue_sets_->OnQueuesFrontTaskChanged(this);
  task_queue_->TraceQueueSize();
  return true;
}

bool WorkQueue::InsertFence(EnqueueOrder fence) {
  const bool was_blocked_by_old_fence =
      fence_ != kNoEnqueueOrder &&
      (tasks_.empty() || tasks_.front()->enqueue_order() >= fence_);
  fence_ = fence;
  if (!work_queue_sets_) return false;
  if (!tasks_.empty() && was_blocked_by_old_fence &&
      (fence == kNoEnqueueOrder || tasks_.front()->enqueue_order() < fence)) {
    work_queue_sets_->OnTaskPushedToEmptyQueue(this);
    return true;
  }
  if (fence == kNoEnqueueOrder) return false;
  if (!tasks_.empty() && tasks_.front()->enqueue_order() < fence) return false;
  work_queue_sets_->OnQueueBlocked(this);
  return false;
}

void WorkQueue::InsertFenceSilently(EnqueueOrder fence) { fence_ = fence; }

Value WorkQueue::AsValue(MonotonicTime now) const {
  Value state(Value::Type::LIST);
  tasks_.ForEach(
      [&](const Task& task) { state.Append(TaskAsValue(task, now)); });
  return state;
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
