#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_QUEUE_IMPL_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_QUEUE_IMPL_H_

#include <cstddef>
#include <memory>
#include <optional>

#include "agent/base/functional/callback.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/memory/weak_ptr.h"
#include "agent/base/observer_list.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/task/operation_gate.h"
#include "agent/base/task/sequence_manager/associated_thread_id.h"
#include "agent/base/task/sequence_manager/atomic_flag_set.h"
#include "agent/base/memory/cache_line.h"
#include "agent/base/task/sequence_manager/delayed_incoming_queue.h"
#include "agent/base/task/sequence_manager/enqueue_order.h"
#include "agent/base/task/sequence_manager/lazy_now.h"
#include "agent/base/task/sequence_manager/task.h"
#include "agent/base/task/sequence_manager/task_deque.h"
#include "agent/base/task/sequence_manager/task_queue.h"
#include "agent/base/task/sequence_manager/time_domain.h"
#include "agent/base/task/single_thread_task_runner.h"
#include "agent/base/task/task_observer.h"
#include "agent/base/time/time.h"
#include "agent/base/trace_event/blame_context.h"
#include "agent/base/values.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

class SequenceManagerImpl;
class WorkQueue;

// A task queue: the unit that task runners post into. Immediate posts land
// in the incoming deque (any thread, under the any-thread lock) and reach
// the immediate work queue when the manager reloads the queue on its
// thread; delayed posts wait in the delayed incoming queue until their time
// domain moves them to the delayed work queue. The selector picks from the
// two work queues.
//
// Owned by its TaskQueue handle until unregistered, then by the manager.
// Threads: the runners, the poster, PostTask, IsUnregistered,
// SetOnTaskPostedHandler and the any-thread half of SetObserver on any
// thread; everything else on the manager's thread. The any-thread lock is
// never taken inside another lock of the queue, and ScheduleWork is never
// called while holding it.
class TaskQueueImpl {
 public:
  // Which work queue a task came from.
  enum class WorkQueueType { kImmediate = 0, kDelayed = 1 };

  // A non-nestable task that was reached inside a nested run loop and
  // waits to be given back to its queue.
  struct DeferredNonNestableTask {
    Task task;
    TaskQueueImpl* task_queue;
    WorkQueueType work_queue_type;
  };

  // Lets posts in until the queue unregisters, then waits out the posts in
  // progress and refuses the rest. Runners hold it, never the queue.
  class GuardedTaskPoster : public RefCountedThreadSafe<GuardedTaskPoster> {
   public:
    explicit GuardedTaskPoster(TaskQueueImpl* outer);

    // Any thread. False (the task destroyed by the caller's side) when the
    // queue is not accepting.
    bool PostTask(PostedTask&& task);

    void StartAcceptingOperations() { operations_controller_.StartAccepting(); }
    void ShutdownAndWaitForZeroOperations() {
      operations_controller_.ShutdownAndWaitForZero();
    }

   private:
    friend class RefCountedThreadSafe<GuardedTaskPoster>;
    ~GuardedTaskPoster();

    kelmbase::internal::OperationGate operations_controller_;
    TaskQueueImpl* const outer_;
  };

  // A runner over the poster; may outlive the queue.
  class TaskRunner final : public SingleThreadTaskRunner {
   public:
    TaskRunner(scoped_refptr<GuardedTaskPoster> task_poster,
               scoped_refptr<AssociatedThreadId> associated_thread,
               TaskType task_type);

    bool PostDelayedTask(const Location& location, OneShotClosure callback,
                         Duration delay) override;
    bool PostNonNestableDelayedTask(const Location& location,
                                    OneShotClosure callback,
                                    Duration delay) override;
    bool RunsTasksInCurrentSequence() const override;

   private:
    ~TaskRunner() override;

    const scoped_refptr<GuardedTaskPoster> task_poster_;
    const scoped_refptr<AssociatedThreadId> associated_thread_;
    const TaskType task_type_;
  };

  using OnTaskStartedHandler =
      RepeatableCallback<void(const Task&, const TaskQueue::TaskTiming&)>;
  using OnTaskCompletedHandler =
      RepeatableCallback<void(const Task&, TaskQueue::TaskTiming*, LazyNow*)>;
  using OnTaskPostedHandler = RepeatableCallback<void(const Task&)>;

  // `sequence_manager` may be null: the queue then refuses every post.
  TaskQueueImpl(SequenceManagerImpl* sequence_manager, TimeDomain* time_domain,
                const TaskQueue::Spec& spec);
  TaskQueueImpl(const TaskQueueImpl&) = delete;
  TaskQueueImpl& operator=(const TaskQueueImpl&) = delete;
  ~TaskQueueImpl();

  // Any thread.
  scoped_refptr<SingleThreadTaskRunner> CreateTaskRunner(
      TaskType task_type) const;
  // Any thread: queues `task` (immediate for a zero delay).
  void PostTask(PostedTask&& task);
  bool IsUnregistered() const;
  const char* GetName() const { return name_; }

  // The rest: the manager's thread.
  void UnregisterTaskQueue();
  bool IsQueueEnabled() const { return main_thread_only_.is_enabled; }
  bool IsEmpty() const;
  size_t GetNumberOfPendingTasks() const;
  bool HasTaskToRunImmediately() const;
  bool HasPendingImmediateWork();
  TaskQueue::QueuePriority GetQueuePriority() const;
  TimeDomain* GetTimeDomain() const { return main_thread_only_.time_domain; }

  // The immediate work queue takes the incoming tasks.
  void ReloadEmptyImmediateWorkQueue();
  // Swaps the incoming deque into `queue`, which is empty.
  void TakeImmediateIncomingQueueTasks(TaskDeque* queue);
  // Moves the due delayed tasks to the delayed work queue.
  void MoveReadyDelayedTasksToWorkQueue(LazyNow* lazy_now);
  // Tells the time domain about a changed earliest delayed task.
  void UpdateDelayedWakeUp(LazyNow* lazy_now);
  // Gives a deferred non-nestable task back, at the front of its work
  // queue.
  void RequeueDeferredNonNestableTask(DeferredNonNestableTask task);
  // Sweeps cancelled delayed tasks and lets storage shrink.
  void ReclaimMemory(MonotonicTime now);

  // Fences.
  void InsertFence(TaskQueue::InsertFencePosition position);
  // A fence that comes into force at `time` (only with delayed fences
  // allowed).
  void InsertFenceAt(MonotonicTime time);
  void RemoveFence();
  bool HasActiveFence() const;
  bool BlockedByFence() const;
  void ActivateDelayedFenceIfNeeded(MonotonicTime now);
  bool WasBlockedOrLowPriority(EnqueueOrder enqueue_order) const;

  // Observers and handlers.
  void SetObserver(TaskQueue::Observer* observer);
  void AddTaskObserver(TaskObserver* task_observer);
  void RemoveTaskObserver(TaskObserver* task_observer);
  void SetOnTaskStartedHandler(OnTaskStartedHandler handler);
  void SetOnTaskCompletedHandler(OnTaskCompletedHandler handler);
  void SetOnTaskPostedHandler(OnTaskPostedHandler handler);
  // Entered before each task of the queue runs and left after it; null for
  // none. Not owned.
  void SetBlameContext(trace_event::BlameContext* blame_context);
  bool RequiresTaskTiming() const;
  void OnTaskStarted(const Task& task, const TaskQueue::TaskTiming& timing);
  void OnTaskCompleted(const Task& task, TaskQueue::TaskTiming* timing,
                       LazyNow* lazy_now);
  // The blame context is entered before the queue's task observers hear of
  // the task, and left after they heard it has run.
  void NotifyWillProcessTask(const Task& task,
                             bool was_blocked_or_low_priority);
  void NotifyDidProcessTask(const Task& task);

  bool should_monitor_quiescence() const { return should_monitor_quiescence_; }
  bool should_notify_observers() const { return should_notify_observers_; }

  WorkQueue* delayed_work_queue() const {
    return main_thread_only_.delayed_work_queue.get();
  }
  WorkQueue* immediate_work_queue() const {
    return main_thread_only_.immediate_work_queue.get();
  }
  const DelayedIncomingQueue& delayed_incoming_queue() const {
    return main_thread_only_.delayed_incoming_queue;
  }

  // The diagnostic dump.
  Value AsValue(MonotonicTime now, bool force_verbose) const;

  // Emits the queue's size as a trace counter (when enabled, on its
  // thread).
  void TraceQueueSize() const;

  // Tests only: the tracing view then sees the queue as disabled since
  // `disabled_time`, which no operation of the program ever does. Any
  // thread.
  void SetTracingViewDisabledSinceForTesting(MonotonicTime disabled_time);

  // This queue's index in its time domain's wake-up heap, -1 when absent.
  int wake_up_heap_handle() const {
    return main_thread_only_.wake_up_heap_handle;
  }
  void set_wake_up_heap_handle(int handle) {
    main_thread_only_.wake_up_heap_handle = handle;
  }
  const std::optional<DelayedWakeUp>& scheduled_wake_up() const {
    return main_thread_only_.scheduled_wake_up;
  }

  WeakPtr<SequenceManagerImpl> GetSequenceManagerWeakPtr() const;
  SequenceManagerImpl* sequence_manager() const { return sequence_manager_; }
  const scoped_refptr<AssociatedThreadId>& associated_thread() const {
    return associated_thread_;
  }

 private:
  struct AnyThread {
    AnyThread();
    ~AnyThread();

    TimeDomain* time_domain = nullptr;
    TaskQueue::Observer* task_queue_observer = nullptr;
    TaskDeque immediate_incoming_queue;
    bool immediate_work_queue_empty = true;
    bool post_immediate_task_should_schedule_work = true;
    bool unregistered = false;
    OnTaskPostedHandler on_task_posted_handler;
    // The tracing view of the queue's state. No operation of this program
    // disables a queue, so it stays enabled.
    struct TracingOnly {
      bool is_enabled = true;
      std::optional<MonotonicTime> disabled_time;
      bool should_report_posted_tasks_when_disabled = false;
    } tracing_only;
  };

  struct MainThreadOnly {
    MainThreadOnly(TaskQueueImpl* task_queue, TimeDomain* time_domain);
    ~MainThreadOnly();

    TimeDomain* time_domain;
    TaskQueue::Observer* task_queue_observer = nullptr;
    std::unique_ptr<WorkQueue> delayed_work_queue;
    std::unique_ptr<WorkQueue> immediate_work_queue;
    DelayedIncomingQueue delayed_incoming_queue;
    ObserverList<TaskObserver> task_observers;
    int wake_up_heap_handle = -1;
    bool is_enabled = true;
    trace_event::BlameContext* blame_context = nullptr;
    EnqueueOrder current_fence = kNoEnqueueOrder;
    std::optional<MonotonicTime> delayed_fence;
    EnqueueOrder enqueue_order_at_which_we_became_unblocked = 0;
    EnqueueOrder
        enqueue_order_at_which_we_became_unblocked_with_normal_priority = 0;
    OnTaskStartedHandler on_task_started_handler;
    OnTaskCompletedHandler on_task_completed_handler;
    std::optional<DelayedWakeUp> scheduled_wake_up;
  };

  void PostImmediateTaskImpl(PostedTask&& task);
  void PostDelayedTaskImpl(PostedTask&& task, bool on_bound_thread);
  void PushOntoDelayedIncomingQueueFromMainThread(Task pending_task,
                                                  LazyNow* lazy_now,
                                                  bool notify_task_annotator);
  void PushOntoDelayedIncomingQueue(Task pending_task);
  void ScheduleDelayedWorkTask(Task pending_task);
  // Under the any-thread lock.
  void UpdateCrossThreadQueueStateLocked();
  void ReportPostedTaskWhenDisabledLocked(const Task& task) const;
  EnqueueOrder GetNextSequenceNumber() const;

  const char* const name_;
  SequenceManagerImpl* const sequence_manager_;
  const scoped_refptr<AssociatedThreadId> associated_thread_;
  const scoped_refptr<GuardedTaskPoster> task_poster_;

  // Posters write the any-thread state for every task while the queue's
  // thread works on its own state: each starts a cache line of its own, so
  // neither side's writes evict the other's lines.
  alignas(kCacheLineSize) mutable Lock any_thread_lock_;
  AnyThread any_thread_;  // Guarded by any_thread_lock_.

  alignas(kCacheLineSize) MainThreadOnly main_thread_only_;

  AtomicFlagSet::AtomicFlag empty_queues_to_reload_handle_;
  const bool should_monitor_quiescence_;
  const bool should_notify_observers_;
  const bool delayed_fence_allowed_;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_QUEUE_IMPL_H_
