#include "agent/base/task/sequence_manager/task_queue_impl.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

#include "agent/base/functional/bind.h"
#include "agent/base/task/sequence_manager/sequence_manager_impl.h"
#include "agent/base/task/sequence_manager/work_queue.h"
#include "agent/base/task/task_posting_deferral_scope.h"
#include "agent/base/threading/thread_restrictions.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/interned_source_location.h"
#include "agent/base/trace_event/trace_macros.h"
#include "agent/base/trace_event/typed_event.h"
#include "logging/check.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

namespace {

trace_event::TraceCategory* Category(
    trace_event::CategoryRegistry::BuiltinIndex index) {
  return trace_event::CategoryRegistry::Builtin(index);
}

// The typed event's message and its fields.
constexpr uint32_t kTaskPostedToDisabledQueueField = 1005;
constexpr uint32_t kQueueNameField = 1;
constexpr uint32_t kTimeSinceDisabledMsField = 2;
constexpr uint32_t kIpcHashField = 3;
constexpr uint32_t kSourceLocationIidField = 4;

}  // namespace

TaskQueueImpl::GuardedTaskPoster::GuardedTaskPoster(TaskQueueImpl* outer)
    : outer_(outer) {}

TaskQueueImpl::GuardedTaskPoster::~GuardedTaskPoster() = default;

bool TaskQueueImpl::GuardedTaskPoster::PostTask(PostedTask&& task) {
  TaskPostingDeferralScope deferral_scope;
  kelmbase::internal::OperationGate::Token token =
      operations_controller_.TryBegin();
  // A refused task dies when this returns, with no lock held.
  if (!token) return false;
  outer_->PostTask(std::move(task));
  return true;
}

TaskQueueImpl::TaskRunner::TaskRunner(
    scoped_refptr<GuardedTaskPoster> task_poster,
    scoped_refptr<AssociatedThreadId> associated_thread, TaskType task_type)
    : task_poster_(std::move(task_poster)),
      associated_thread_(std::move(associated_thread)),
      task_type_(task_type) {}

TaskQueueImpl::TaskRunner::~TaskRunner() = default;

bool TaskQueueImpl::TaskRunner::PostDelayedTask(const Location& location,
                                                OneShotClosure callback,
                                                Duration delay) {
  return task_poster_->PostTask(PostedTask(
      scoped_refptr<SingleThreadTaskRunner>(this), std::move(callback),
      location, delay, Nestable::kNestable, task_type_));
}

bool TaskQueueImpl::TaskRunner::PostNonNestableDelayedTask(
    const Location& location, OneShotClosure callback, Duration delay) {
  return task_poster_->PostTask(PostedTask(
      scoped_refptr<SingleThreadTaskRunner>(this), std::move(callback),
      location, delay, Nestable::kNonNestable, task_type_));
}

bool TaskQueueImpl::TaskRunner::RunsTasksInCurrentSequence() const {
  return associated_thread_->IsBoundToCurrentThread();
}

TaskQueueImpl::AnyThread::AnyThread() = default;
TaskQueueImpl::AnyThread::~AnyThread() = default;

TaskQueueImpl::MainThreadOnly::MainThreadOnly(TaskQueueImpl* task_queue,
                                              TimeDomain* time_domain)
    : time_domain(time_domain),
      delayed_work_queue(std::make_unique<WorkQueue>(
          task_queue, "delayed", WorkQueue::QueueType::kDelayed)),
      immediate_work_queue(std::make_unique<WorkQueue>(
          task_queue, "immediate", WorkQueue::QueueType::kImmediate)) {}

TaskQueueImpl::MainThreadOnly::~MainThreadOnly() = default;

TaskQueueImpl::TaskQueueImpl(SequenceManagerImpl* sequence_manager,
                             TimeDomain* time_domain,
                             const TaskQueue::Spec& spec)
    : name_(spec.name),
      sequence_manager_(sequence_manager),
      associated_thread_(sequence_manager
                             ? sequence_manager->associated_thread()
                             : AssociatedThreadId::CreateBound()),
      task_poster_(MakeRefCounted<GuardedTaskPoster>(this)),
      main_thread_only_(this, time_domain),
      empty_queues_to_reload_handle_(
          sequence_manager
              ? sequence_manager->GetFlagToRequestReloadForEmptyQueue(this)
              : AtomicFlagSet::AtomicFlag()),
      should_monitor_quiescence_(spec.should_monitor_quiescence),
      should_notify_observers_(spec.should_notify_observers),
      delayed_fence_allowed_(spec.delayed_fence_allowed) {
  {
    ScopedLock lock(any_thread_lock_);
    any_thread_.time_domain = time_domain;
    UpdateCrossThreadQueueStateLocked();
  }
  if (sequence_manager_) task_poster_->StartAcceptingOperations();
}

TaskQueueImpl::~TaskQueueImpl() {
  // A queue destroyed without unregistering (one built without a manager)
  // still closes its poster: runners may outlive it.
  task_poster_->ShutdownAndWaitForZeroOperations();
}

scoped_refptr<SingleThreadTaskRunner> TaskQueueImpl::CreateTaskRunner(
    TaskType task_type) const {
  return MakeRefCounted<TaskRunner>(task_poster_, associated_thread_,
                                    task_type);
}

void TaskQueueImpl::PostTask(PostedTask&& task) {
  if (!task.delay.is_zero()) {
    PostDelayedTaskImpl(std::move(task),
                        associated_thread_->IsBoundToCurrentThread());
    return;
  }
  PostImmediateTaskImpl(std::move(task));
}

EnqueueOrder TaskQueueImpl::GetNextSequenceNumber() const {
  return sequence_manager_->GetNextSequenceNumber();
}

void TaskQueueImpl::PostImmediateTaskImpl(PostedTask&& task) {
  CHECK(task.callback);
  bool should_schedule_work = false;
  {
    ScopedLock lock(any_thread_lock_);
    if (sequence_manager_->GetAddQueueTimeToTasks() || delayed_fence_allowed_)
      task.queue_time = any_thread_.time_domain->CreateLazyNow().Now();
    const EnqueueOrder sequence_number = GetNextSequenceNumber();
    const bool was_immediate_incoming_queue_empty =
        any_thread_.immediate_incoming_queue.empty();
    Task* queued = &any_thread_.immediate_incoming_queue.emplace_back(
        std::move(task), MonotonicTime(), sequence_number, sequence_number);
    sequence_manager_->WillQueueTask(queued, name_);
    ReportPostedTaskWhenDisabledLocked(*queued);
    if (any_thread_.on_task_posted_handler)
      any_thread_.on_task_posted_handler.Run(*queued);
    // Only the change from idle to busy raises the flag and wakes the
    // thread; later posts find the queue busy.
    if (was_immediate_incoming_queue_empty &&
        any_thread_.immediate_work_queue_empty) {
      empty_queues_to_reload_handle_.SetActive(true);
      should_schedule_work =
          any_thread_.post_immediate_task_should_schedule_work;
    }
  }
  if (should_schedule_work) sequence_manager_->ScheduleWork();
  TraceQueueSize();
}

void TaskQueueImpl::PostDelayedTaskImpl(PostedTask&& posted_task,
                                        bool on_bound_thread) {
  CHECK(posted_task.callback);
  const EnqueueOrder sequence_number = GetNextSequenceNumber();
  if (on_bound_thread) {
    LazyNow lazy_now = main_thread_only_.time_domain->CreateLazyNow();
    const MonotonicTime now = lazy_now.Now();
    const MonotonicTime run_time = now + posted_task.delay;
    if (sequence_manager_->GetAddQueueTimeToTasks())
      posted_task.queue_time = now;
    PushOntoDelayedIncomingQueueFromMainThread(
        Task(std::move(posted_task), run_time, sequence_number, kNoEnqueueOrder,
             WakeUpResolution::kLow),
        &lazy_now, /*notify_task_annotator=*/true);
    return;
  }
  MonotonicTime now;
  {
    ScopedLock lock(any_thread_lock_);
    now = any_thread_.time_domain->Now();
  }
  const MonotonicTime run_time = now + posted_task.delay;
  if (sequence_manager_->GetAddQueueTimeToTasks()) posted_task.queue_time = now;
  PushOntoDelayedIncomingQueue(Task(std::move(posted_task), run_time,
                                    sequence_number, kNoEnqueueOrder,
                                    WakeUpResolution::kLow));
}

void TaskQueueImpl::PushOntoDelayedIncomingQueueFromMainThread(
    Task pending_task, LazyNow* lazy_now, bool notify_task_annotator) {
  if (notify_task_annotator) {
    sequence_manager_->WillQueueTask(&pending_task, name_);
    if (pending_task.ipc_hash) {
      ScopedLock lock(any_thread_lock_);
      ReportPostedTaskWhenDisabledLocked(pending_task);
    }
  }
  main_thread_only_.delayed_incoming_queue.push(std::move(pending_task));
  UpdateDelayedWakeUp(lazy_now);
  TraceQueueSize();
}

void TaskQueueImpl::PushOntoDelayedIncomingQueue(Task pending_task) {
  sequence_manager_->WillQueueTask(&pending_task, name_);
  if (pending_task.ipc_hash) {
    ScopedLock lock(any_thread_lock_);
    ReportPostedTaskWhenDisabledLocked(pending_task);
  }
  // The delayed heap belongs to the queue's thread: hop there with an
  // immediate task that carries the delayed one.
  const TaskType task_type = pending_task.task_type;
  scoped_refptr<SingleThreadTaskRunner> task_runner = pending_task.task_runner;
  PostImmediateTaskImpl(
      PostedTask(std::move(task_runner),
                 BindOneShot(&TaskQueueImpl::ScheduleDelayedWorkTask, this,
                             std::move(pending_task)),
                 FROM_HERE, Duration(), Nestable::kNonNestable, task_type));
}

void TaskQueueImpl::ScheduleDelayedWorkTask(Task pending_task) {
  LazyNow lazy_now = main_thread_only_.time_domain->CreateLazyNow();
  const MonotonicTime now = lazy_now.Now();
  if (now < pending_task.delayed_run_time) {
    PushOntoDelayedIncomingQueueFromMainThread(std::move(pending_task),
                                               &lazy_now,
                                               /*notify_task_annotator=*/false);
  } else {
    // Already due: it keeps its place among the other due delayed tasks.
    pending_task.delayed_run_time = now;
    main_thread_only_.delayed_incoming_queue.push(std::move(pending_task));
    MoveReadyDelayedTasksToWorkQueue(&lazy_now);
  }
  TraceQueueSize();
}

void TaskQueueImpl::ReloadEmptyImmediateWorkQueue() {
  // A reload may find the work queue already refilled (by the swap that
  // follows taking its last task).
  if (!immediate_work_queue()->Empty()) return;
  immediate_work_queue()->TakeImmediateIncomingQueueTasks();
  if (main_thread_only_.task_queue_observer && IsQueueEnabled())
    main_thread_only_.task_queue_observer->OnQueueNextWakeUpChanged(
        MonotonicTime());
}

void TaskQueueImpl::TakeImmediateIncomingQueueTasks(TaskDeque* queue) {
  ScopedLock lock(any_thread_lock_);
  queue->swap(any_thread_.immediate_incoming_queue);
  any_thread_.immediate_incoming_queue.MaybeShrinkQueue();
  if (main_thread_only_.delayed_fence) {
    const MonotonicTime delayed_fence = *main_thread_only_.delayed_fence;
    EnqueueOrder fence = kNoEnqueueOrder;
    queue->ForEach([&](const Task& task) {
      if (fence == kNoEnqueueOrder && task.queue_time >= delayed_fence)
        fence = task.enqueue_order();
    });
    if (fence != kNoEnqueueOrder) {
      main_thread_only_.delayed_fence.reset();
      main_thread_only_.current_fence = fence;
      immediate_work_queue()->InsertFenceSilently(fence);
      delayed_work_queue()->InsertFenceSilently(fence);
    }
  }
  UpdateCrossThreadQueueStateLocked();
}

void TaskQueueImpl::UpdateCrossThreadQueueStateLocked() {
  any_thread_.immediate_work_queue_empty = immediate_work_queue()->Empty();
  if (main_thread_only_.task_queue_observer) {
    any_thread_.post_immediate_task_should_schedule_work = IsQueueEnabled();
  } else {
    any_thread_.post_immediate_task_should_schedule_work =
        IsQueueEnabled() && main_thread_only_.current_fence == kNoEnqueueOrder;
  }
}

void TaskQueueImpl::MoveReadyDelayedTasksToWorkQueue(LazyNow* lazy_now) {
  // Cancelled tasks are destroyed last, after the heap, the wake-up and
  // the sets are up to date: their destruction may post to this queue.
  TaskDeque cancelled;
  {
    WorkQueue::TaskPusher pusher = delayed_work_queue()->CreateTaskPusher();
    DelayedIncomingQueue& incoming = main_thread_only_.delayed_incoming_queue;
    while (!incoming.empty()) {
      Task& top = incoming.top();
      sequence_manager_->RecordCrashKeys(top);
      if (top.IsCancelledOrEmpty()) {
        cancelled.push_back(incoming.TakeTop());
        continue;
      }
      if (top.delayed_run_time > lazy_now->Now()) break;
      ActivateDelayedFenceIfNeeded(top.delayed_run_time);
      top.set_enqueue_order(GetNextSequenceNumber());
      pusher.Push(incoming.TakeTop());
    }
    UpdateDelayedWakeUp(lazy_now);
  }
}

void TaskQueueImpl::UpdateDelayedWakeUp(LazyNow* lazy_now) {
  std::optional<DelayedWakeUp> wake_up;
  const DelayedIncomingQueue& incoming =
      main_thread_only_.delayed_incoming_queue;
  if (!incoming.empty() && IsQueueEnabled()) {
    const bool high_res = incoming.pending_high_res_tasks() > 0 &&
                          GetQueuePriority() <= TaskQueue::kNormalPriority;
    wake_up = DelayedWakeUp{
        incoming.top().delayed_run_time, incoming.top().sequence_num,
        high_res ? WakeUpResolution::kHigh : WakeUpResolution::kLow};
  }
  if (wake_up == main_thread_only_.scheduled_wake_up) return;
  main_thread_only_.scheduled_wake_up = wake_up;
  if (wake_up && main_thread_only_.task_queue_observer &&
      !HasPendingImmediateWork()) {
    main_thread_only_.task_queue_observer->OnQueueNextWakeUpChanged(
        wake_up->time);
  }
  main_thread_only_.time_domain->SetNextWakeUpForQueue(this, wake_up, lazy_now);
}

void TaskQueueImpl::UnregisterTaskQueue() {
  KELM_TRACE_EVENT0(Category(trace_event::CategoryRegistry::kBase),
                    "TaskQueueImpl::UnregisterTaskQueue");
  {
    ScopedAllowBaseSyncPrimitivesOutsideBlockingScope allow(FROM_HERE);
    task_poster_->ShutdownAndWaitForZeroOperations();
  }
  TaskDeque immediate_incoming_queue;
  {
    ScopedLock lock(any_thread_lock_);
    any_thread_.unregistered = true;
    any_thread_.time_domain = nullptr;
    any_thread_.task_queue_observer = nullptr;
    immediate_incoming_queue.swap(any_thread_.immediate_incoming_queue);
  }
  if (main_thread_only_.time_domain)
    main_thread_only_.time_domain->UnregisterQueue(this);
  main_thread_only_.scheduled_wake_up.reset();
  main_thread_only_.on_task_completed_handler.Reset();
  main_thread_only_.time_domain = nullptr;
  main_thread_only_.task_queue_observer = nullptr;
  empty_queues_to_reload_handle_.ReleaseAtomicFlag();

  // Every container is detached before any of its tasks dies: a task's
  // destruction may drop the last reference to something that reaches
  // back into this queue.
  std::unique_ptr<WorkQueue> delayed_work_queue =
      std::exchange(main_thread_only_.delayed_work_queue,
                    std::make_unique<WorkQueue>(
                        this, "delayed", WorkQueue::QueueType::kDelayed));
  std::unique_ptr<WorkQueue> immediate_work_queue =
      std::exchange(main_thread_only_.immediate_work_queue,
                    std::make_unique<WorkQueue>(
                        this, "immediate", WorkQueue::QueueType::kImmediate));
  DelayedIncomingQueue delayed_incoming_queue;
  delayed_incoming_queue.swap(main_thread_only_.delayed_incoming_queue);
  delayed_work_queue.reset();
  immediate_work_queue.reset();
  delayed_incoming_queue.clear();
  immediate_incoming_queue.clear();
}

bool TaskQueueImpl::IsUnregistered() const {
  ScopedLock lock(any_thread_lock_);
  return any_thread_.unregistered;
}

bool TaskQueueImpl::IsEmpty() const {
  if (!main_thread_only_.delayed_incoming_queue.empty() ||
      !delayed_work_queue()->Empty() || !immediate_work_queue()->Empty()) {
    return false;
  }
  ScopedLock lock(any_thread_lock_);
  return any_thread_.immediate_incoming_queue.empty();
}

size_t TaskQueueImpl::GetNumberOfPendingTasks() const {
  size_t count = main_thread_only_.delayed_incoming_queue.size() +
                 delayed_work_queue()->Size() + immediate_work_queue()->Size();
  ScopedLock lock(any_thread_lock_);
  return count + any_thread_.immediate_incoming_queue.size();
}

bool TaskQueueImpl::HasTaskToRunImmediately() const {
  if (!delayed_work_queue()->Empty() || !immediate_work_queue()->Empty())
    return true;
  const DelayedIncomingQueue& incoming =
      main_thread_only_.delayed_incoming_queue;
  if (!incoming.empty() && main_thread_only_.time_domain &&
      incoming.top().delayed_run_time <= main_thread_only_.time_domain->Now()) {
    return true;
  }
  ScopedLock lock(any_thread_lock_);
  return !any_thread_.immediate_incoming_queue.empty();
}

bool TaskQueueImpl::HasPendingImmediateWork() {
  if (!delayed_work_queue()->Empty() || !immediate_work_queue()->Empty())
    return true;
  ScopedLock lock(any_thread_lock_);
  return !any_thread_.immediate_incoming_queue.empty();
}

TaskQueue::QueuePriority TaskQueueImpl::GetQueuePriority() const {
  return static_cast<TaskQueue::QueuePriority>(
      immediate_work_queue()->work_queue_set_index());
}

void TaskQueueImpl::RequeueDeferredNonNestableTask(
    DeferredNonNestableTask task) {
  if (task.work_queue_type == WorkQueueType::kDelayed) {
    delayed_work_queue()->PushNonNestableTaskToFront(std::move(task.task));
    return;
  }
  if (immediate_work_queue()->Empty()) {
    // The incoming tasks stay where they are until this one has run; the
    // swap after taking it brings them in.
    ScopedLock lock(any_thread_lock_);
    empty_queues_to_reload_handle_.SetActive(false);
    any_thread_.immediate_work_queue_empty = false;
  }
  immediate_work_queue()->PushNonNestableTaskToFront(std::move(task.task));
}

void TaskQueueImpl::ReclaimMemory(MonotonicTime now) {
  if (main_thread_only_.delayed_incoming_queue.empty()) return;
  main_thread_only_.delayed_incoming_queue.SweepCancelledTasks(
      [this](const Task& task) { sequence_manager_->RecordCrashKeys(task); });
  delayed_work_queue()->MaybeShrinkQueue();
  immediate_work_queue()->MaybeShrinkQueue();
  {
    ScopedLock lock(any_thread_lock_);
    any_thread_.immediate_incoming_queue.MaybeShrinkQueue();
  }
  LazyNow lazy_now(now);
  UpdateDelayedWakeUp(&lazy_now);
}

void TaskQueueImpl::InsertFence(TaskQueue::InsertFencePosition position) {
  main_thread_only_.delayed_fence.reset();
  const EnqueueOrder previous_fence = main_thread_only_.current_fence;
  const EnqueueOrder current_fence =
      position == TaskQueue::InsertFencePosition::kBeginningOfTime
          ? kBlockingFence
          : GetNextSequenceNumber();
  main_thread_only_.current_fence = current_fence;
  bool front_task_unblocked =
      immediate_work_queue()->InsertFence(current_fence);
  front_task_unblocked |= delayed_work_queue()->InsertFence(current_fence);
  {
    ScopedLock lock(any_thread_lock_);
    if (!front_task_unblocked && previous_fence != kNoEnqueueOrder &&
        previous_fence < current_fence &&
        !any_thread_.immediate_incoming_queue.empty()) {
      const EnqueueOrder front =
          any_thread_.immediate_incoming_queue.front()->enqueue_order();
      front_task_unblocked = previous_fence < front && front < current_fence;
    }
    UpdateCrossThreadQueueStateLocked();
  }
  if (IsQueueEnabled() && front_task_unblocked) {
    main_thread_only_.enqueue_order_at_which_we_became_unblocked =
        GetNextSequenceNumber();
    if (GetQueuePriority() <= TaskQueue::kNormalPriority) {
      main_thread_only_
          .enqueue_order_at_which_we_became_unblocked_with_normal_priority =
          main_thread_only_.enqueue_order_at_which_we_became_unblocked;
    }
    sequence_manager_->ScheduleWork();
  }
}

void TaskQueueImpl::InsertFenceAt(MonotonicTime time) {
  CHECK(delayed_fence_allowed_);
  main_thread_only_.delayed_fence = time;
}

void TaskQueueImpl::RemoveFence() {
  const EnqueueOrder previous_fence = main_thread_only_.current_fence;
  main_thread_only_.current_fence = kNoEnqueueOrder;
  main_thread_only_.delayed_fence.reset();
  bool front_task_unblocked = immediate_work_queue()->RemoveFence();
  front_task_unblocked |= delayed_work_queue()->RemoveFence();
  {
    ScopedLock lock(any_thread_lock_);
    if (!front_task_unblocked && previous_fence != kNoEnqueueOrder &&
        !any_thread_.immediate_incoming_queue.empty()) {
      front_task_unblocked =
          previous_fence <
          any_thread_.immediate_incoming_queue.front()->enqueue_order();
    }
    UpdateCrossThreadQueueStateLocked();
  }
  if (IsQueueEnabled() && front_task_unblocked) {
    main_thread_only_.enqueue_order_at_which_we_became_unblocked =
        GetNextSequenceNumber();
    if (GetQueuePriority() <= TaskQueue::kNormalPriority) {
      main_thread_only_
          .enqueue_order_at_which_we_became_unblocked_with_normal_priority =
          main_thread_only_.enqueue_order_at_which_we_became_unblocked;
    }
    sequence_manager_->ScheduleWork();
  }
}

bool TaskQueueImpl::HasActiveFence() const {
  return main_thread_only_.current_fence != kNoEnqueueOrder;
}

bool TaskQueueImpl::BlockedByFence() const {
  if (main_thread_only_.current_fence == kNoEnqueueOrder) return false;
  if (!immediate_work_queue()->BlockedByFence() ||
      !delayed_work_queue()->BlockedByFence()) {
    return false;
  }
  ScopedLock lock(any_thread_lock_);
  if (any_thread_.immediate_incoming_queue.empty()) return true;
  return main_thread_only_.current_fence <
         any_thread_.immediate_incoming_queue.front()->enqueue_order();
}

void TaskQueueImpl::ActivateDelayedFenceIfNeeded(MonotonicTime now) {
  if (!main_thread_only_.delayed_fence) return;
  if (*main_thread_only_.delayed_fence > now) return;
  InsertFence(TaskQueue::InsertFencePosition::kNow);
  main_thread_only_.delayed_fence.reset();
}

bool TaskQueueImpl::WasBlockedOrLowPriority(EnqueueOrder enqueue_order) const {
  return enqueue_order <
         main_thread_only_
             .enqueue_order_at_which_we_became_unblocked_with_normal_priority;
}

void TaskQueueImpl::SetObserver(TaskQueue::Observer* observer) {
  main_thread_only_.task_queue_observer = observer;
  ScopedLock lock(any_thread_lock_);
  any_thread_.task_queue_observer = observer;
}

void TaskQueueImpl::AddTaskObserver(TaskObserver* task_observer) {
  main_thread_only_.task_observers.AddObserver(task_observer);
}

void TaskQueueImpl::RemoveTaskObserver(TaskObserver* task_observer) {
  main_thread_only_.task_observers.RemoveObserver(task_observer);
}

void TaskQueueImpl::SetOnTaskStartedHandler(OnTaskStartedHandler handler) {
  main_thread_only_.on_task_started_handler = std::move(handler);
}

void TaskQueueImpl::SetOnTaskCompletedHandler(OnTaskCompletedHandler handler) {
  main_thread_only_.on_task_completed_handler = std::move(handler);
}

void TaskQueueImpl::SetOnTaskPostedHandler(OnTaskPostedHandler handler) {
  ScopedLock lock(any_thread_lock_);
  any_thread_.on_task_posted_handler = std::move(handler);
}

void TaskQueueImpl::SetBlameContext(trace_event::BlameContext* blame_context) {
  main_thread_only_.blame_context = blame_context;
}

bool TaskQueueImpl::RequiresTaskTiming() const {
  return !main_thread_only_.on_task_started_handler.is_null() ||
         !main_thread_only_.on_task_completed_handler.is_null();
}

void TaskQueueImpl::OnTaskStarted(const Task& task,
                                  const TaskQueue::TaskTiming& timing) {
  if (main_thread_only_.on_task_started_handler)
    main_thread_only_.on_task_started_handler.Run(task, timing);
}

void TaskQueueImpl::OnTaskCompleted(const Task& task,
                                    TaskQueue::TaskTiming* timing,
                                    LazyNow* lazy_now) {
  if (main_thread_only_.on_task_completed_handler)
    main_thread_only_.on_task_completed_handler.Run(task, timing, lazy_now);
}

void TaskQueueImpl::NotifyWillProcessTask(const Task& task,
                                          bool was_blocked_or_low_priority) {
  if (main_thread_only_.blame_context) main_thread_only_.blame_context->Enter();
  // An empty list is not iterated (an iterator registers with its list).
  if (main_thread_only_.task_observers.empty()) return;
  for (TaskObserver& observer : main_thread_only_.task_observers)
    observer.WillProcessTask(task, was_blocked_or_low_priority);
}

void TaskQueueImpl::NotifyDidProcessTask(const Task& task) {
  if (!main_thread_only_.task_observers.empty()) {
    for (TaskObserver& observer : main_thread_only_.task_observers)
      observer.DidProcessTask(task);
  }
  if (main_thread_only_.blame_context) main_thread_only_.blame_context->Leave();
}

WeakPtr<SequenceManagerImpl> TaskQueueImpl::GetSequenceManagerWeakPtr() const {
  return sequence_manager_->GetWeakPtr();
}

void TaskQueueImpl::ReportPostedTaskWhenDisabledLocked(const Task& task) const {
  if (!task.ipc_hash) return;
  trace_event::TraceCategory* const category =
      Category(trace_event::CategoryRegistry::kDisabledByDefaultLifecycles);
  if (!KELM_TRACE_CATEGORY_ENABLED(category)) return;
  const AnyThread::TracingOnly& tracing = any_thread_.tracing_only;
  if (tracing.is_enabled || !tracing.disabled_time ||
      tracing.should_report_posted_tasks_when_disabled) {
    return;
  }
  // Posts to an unregistered queue are refused before they get here.
  if (!any_thread_.time_domain) return;
  trace_event::TypedEventHandle event = trace_event::BeginTypedEvent(
      trace_event::kPhaseInstant, category, "task_posted_to_disabled_queue",
      MonotonicTime(), /*explicit_track=*/false);
  if (!event) return;
  const Duration since_disabled =
      any_thread_.time_domain->Now() - *tracing.disabled_time;
  perfetto::EventContext context = event.context();
  const Location& posted_from = task.posted_from;
  const uint64_t location_iid = trace_event::InternedSourceLocation::Get(
      &context, {posted_from.function_name(), posted_from.file_name(),
                 posted_from.line_number()});
  protozero::Message* report =
      event.event()->BeginNestedMessage(kTaskPostedToDisabledQueueField);
  report->AppendString(kQueueNameField, name_);
  report->AppendVarInt(kTimeSinceDisabledMsField,
                       static_cast<uint64_t>(since_disabled.InMilliseconds()));
  report->AppendVarInt(kIpcHashField, task.ipc_hash);
  report->AppendVarInt(kSourceLocationIidField, location_iid);
}

void TaskQueueImpl::SetTracingViewDisabledSinceForTesting(
    MonotonicTime disabled_time) {
  ScopedLock lock(any_thread_lock_);
  any_thread_.tracing_only.is_enabled = false;
  any_thread_.tracing_only.disabled_time = disabled_time;
}

void TaskQueueImpl::TraceQueueSize() const {
  trace_event::TraceCategory* const category = Category(
      trace_event::CategoryRegistry::kDisabledByDefaultSequenceManager);
  if (!KELM_TRACE_CATEGORY_ENABLED(category) ||
      !associated_thread_->IsBoundToCurrentThread()) {
    return;
  }
  size_t total = main_thread_only_.delayed_incoming_queue.size() +
                 delayed_work_queue()->Size() + immediate_work_queue()->Size();
  {
    ScopedLock lock(any_thread_lock_);
    total += any_thread_.immediate_incoming_queue.size();
  }
  KELM_TRACE_COUNTER1(category, name_, static_cast<int64_t>(total));
}

Value TaskQueueImpl::AsValue(MonotonicTime now, bool force_verbose) const {
  ScopedLock lock(any_thread_lock_);
  Value state(Value::Type::DICTIONARY);
  state.SetStringKey("name", name_);
  if (any_thread_.unregistered) {
    state.SetBoolKey("unregistered", true);
    return state;
  }
  char id[32];
  snprintf(id, sizeof(id), "0x%" PRIxPTR, reinterpret_cast<uintptr_t>(this));
  state.SetStringKey("task_queue_id", id);
  state.SetBoolKey("enabled", IsQueueEnabled());
  if (main_thread_only_.time_domain)
    state.SetStringKey("time_domain_name",
                       main_thread_only_.time_domain->GetName());
  state.SetIntKey(
      "any_thread_.immediate_incoming_queuesize",
      static_cast<int>(any_thread_.immediate_incoming_queue.size()));
  state.SetIntKey(
      "delayed_incoming_queue_size",
      static_cast<int>(main_thread_only_.delayed_incoming_queue.size()));
  state.SetIntKey("immediate_work_queue_size",
                  static_cast<int>(immediate_work_queue()->Size()));
  state.SetIntKey("delayed_work_queue_size",
                  static_cast<int>(delayed_work_queue()->Size()));
  state.SetIntKey(
      "any_thread_.immediate_incoming_queuecapacity",
      static_cast<int>(any_thread_.immediate_incoming_queue.capacity()));
  state.SetIntKey("immediate_work_queue_capacity",
                  static_cast<int>(immediate_work_queue()->Capacity()));
  state.SetIntKey("delayed_work_queue_capacity",
                  static_cast<int>(delayed_work_queue()->Capacity()));
  const DelayedIncomingQueue& incoming =
      main_thread_only_.delayed_incoming_queue;
  if (!incoming.empty() && main_thread_only_.time_domain) {
    const Duration delay_to_next_task =
        incoming.top().delayed_run_time - main_thread_only_.time_domain->Now();
    state.SetDoubleKey("delay_to_next_task_ms",
                       delay_to_next_task.InMillisecondsF());
  }
  if (main_thread_only_.current_fence != kNoEnqueueOrder) {
    state.SetIntKey("current_fence",
                    static_cast<int>(main_thread_only_.current_fence));
  }
  if (main_thread_only_.delayed_fence) {
    state.SetDoubleKey("delayed_fence_seconds_from_now",
                       (*main_thread_only_.delayed_fence - now).InSecondsF());
  }
  const bool verbose = KELM_TRACE_CATEGORY_ENABLED(Category(
      trace_event::CategoryRegistry::
          kDisabledByDefaultSequenceManagerVerboseSnapshots));
  if (verbose || force_verbose) {
    Value immediate_incoming(Value::Type::LIST);
    any_thread_.immediate_incoming_queue.ForEach([&](const Task& task) {
      immediate_incoming.Append(TaskAsValue(task, now));
    });
    state.SetKey("immediate_incoming_queue", std::move(immediate_incoming));
    state.SetKey("delayed_work_queue", delayed_work_queue()->AsValue(now));
    state.SetKey("immediate_work_queue", immediate_work_queue()->AsValue(now));
    state.SetKey("delayed_incoming_queue", incoming.AsValue(now));
  }
  state.SetStringKey("priority",
                     TaskQueue::PriorityToString(GetQueuePriority()));
  return state;
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
