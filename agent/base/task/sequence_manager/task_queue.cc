#include "agent/base/task/sequence_manager/task_queue.h"

#include <utility>

#include "agent/base/task/sequence_manager/associated_thread_id.h"
#include "agent/base/task/sequence_manager/lazy_now.h"
#include "agent/base/task/sequence_manager/sequence_manager_impl.h"
#include "agent/base/task/sequence_manager/task_queue_impl.h"
#include "agent/base/threading/platform_thread.h"

namespace kelmbase {
namespace sequence_manager {

namespace {

// The runner of a handle without a queue: refuses every post.
class NullTaskRunner final : public SingleThreadTaskRunner {
 public:
  NullTaskRunner() : creating_thread_(PlatformThread::CurrentId()) {}

  bool PostDelayedTask(const Location& from_here, OneShotClosure task,
                       Duration delay) override {
    return false;
  }
  bool PostNonNestableDelayedTask(const Location& from_here,
                                  OneShotClosure task,
                                  Duration delay) override {
    return false;
  }
  bool RunsTasksInCurrentSequence() const override {
    return PlatformThread::CurrentId() == creating_thread_;
  }

 private:
  ~NullTaskRunner() override = default;

  const PlatformThreadId creating_thread_;
};

}  // namespace

// static
const char* TaskQueue::PriorityToString(QueuePriority priority) {
  switch (priority) {
    case kControlPriority:
      return "control";
    case kHighestPriority:
      return "highest";
    case kVeryHighPriority:
      return "very_high";
    case kHighPriority:
      return "high";
    case kNormalPriority:
      return "normal";
    case kLowPriority:
      return "low";
    case kBestEffortPriority:
      return "best_effort";
    default:
      return nullptr;
  }
}

TaskQueue::TaskTiming::TaskTiming(bool has_wall_time, bool has_thread_time)
    : has_wall_time_(has_wall_time), has_thread_time_(has_thread_time) {}

void TaskQueue::TaskTiming::Start(LazyNow* lazy_now) {
  state_ = State::kRunning;
  if (has_wall_time_) start_time_ = lazy_now->Now();
  if (has_thread_time_) start_thread_time_ = ThreadCpuTime::Now();
}

void TaskQueue::TaskTiming::RecordTaskEnd(LazyNow* lazy_now) {
  if (state_ == State::kFinished) return;
  state_ = State::kFinished;
  if (has_wall_time_) end_time_ = lazy_now->Now();
  if (has_thread_time_) end_thread_time_ = ThreadCpuTime::Now();
}

TaskQueue::TaskQueue(std::unique_ptr<internal::TaskQueueImpl> impl,
                     const Spec& spec)
    : impl_(std::move(impl)),
      sequence_manager_(impl_ && impl_->sequence_manager()
                            ? impl_->GetSequenceManagerWeakPtr()
                            : nullptr),
      associated_thread_(impl_ && impl_->sequence_manager()
                             ? impl_->associated_thread()
                             : internal::AssociatedThreadId::CreateUnbound()),
      default_task_runner_(impl_ ? impl_->CreateTaskRunner(0)
                                 : MakeRefCounted<NullTaskRunner>()),
      name_(impl_ ? impl_->GetName() : "") {}

TaskQueue::~TaskQueue() { ShutdownTaskQueueGracefully(); }

const char* TaskQueue::GetName() const { return name_; }

scoped_refptr<SingleThreadTaskRunner> TaskQueue::CreateTaskRunner(
    TaskType task_type) {
  ScopedLock lock(impl_lock_);
  if (!impl_) return MakeRefCounted<NullTaskRunner>();
  return impl_->CreateTaskRunner(task_type);
}

std::unique_ptr<internal::TaskQueueImpl> TaskQueue::TakeTaskQueueImpl() {
  ScopedLock lock(impl_lock_);
  return std::move(impl_);
}

void TaskQueue::ShutdownTaskQueue() {
  std::unique_ptr<internal::TaskQueueImpl> impl = TakeTaskQueueImpl();
  if (!impl) return;
  if (!sequence_manager_) {
    // Without a manager the queue is simply destroyed.
    return;
  }
  impl->SetBlameContext(nullptr);
  impl->SetOnTaskStartedHandler({});
  impl->SetOnTaskCompletedHandler({});
  impl->SetOnTaskPostedHandler({});
  sequence_manager_->UnregisterTaskQueueImpl(std::move(impl));
}

void TaskQueue::ShutdownTaskQueueGracefully() {
  std::unique_ptr<internal::TaskQueueImpl> impl = TakeTaskQueueImpl();
  if (!impl || impl->IsUnregistered()) return;
  impl->SetObserver(nullptr);
  if (sequence_manager_) {
    sequence_manager_->ShutdownTaskQueueGracefully(std::move(impl));
  }
}

}  // namespace sequence_manager
}  // namespace kelmbase
