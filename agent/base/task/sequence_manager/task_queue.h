#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_QUEUE_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_QUEUE_H_

#include <cstdint>
#include <memory>

#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/memory/weak_ptr.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/task/sequence_manager/task.h"
#include "agent/base/task/single_thread_task_runner.h"
#include "agent/base/time/time.h"

namespace kelmbase {
namespace sequence_manager {

class LazyNow;
class TimeDomain;

namespace internal {
class AssociatedThreadId;
class SequenceManagerImpl;
class TaskQueueImpl;
}  // namespace internal

// The handle to a task queue that its owner keeps. Tasks are posted through
// task_runner() (or CreateTaskRunner) from any thread and run on the
// manager's thread in posting order.
//
// Lifetime: ShutdownTaskQueue() unregisters the queue at once, destroying
// its pending tasks unrun. Dropping the last reference instead shuts it down
// gracefully: the queue keeps running its tasks and the manager destroys it
// once it is empty. Runners handed out stay valid either way; they refuse
// posts once the queue is unregistered.
//
// Threads: task_runner() and GetName() from any thread; the rest on the
// manager's thread.
class TaskQueue : public RefCountedThreadSafe<
                      TaskQueue, DefaultRefCountedThreadSafeTraits<TaskQueue>> {
 public:
  // A smaller number is more urgent.
  enum QueuePriority : uint8_t {
    kControlPriority = 0,
    kHighestPriority = 1,
    kVeryHighPriority = 2,
    kHighPriority = 3,
    kNormalPriority = 4,
    kLowPriority = 5,
    kBestEffortPriority = 6,
    kQueuePriorityCount = 7,
  };

  // "control", "highest", "very_high", "high", "normal", "low",
  // "best_effort"; null above 6.
  static const char* PriorityToString(QueuePriority priority);

  // Where a fence goes.
  enum class InsertFencePosition {
    kNow = 0,              // Blocks tasks posted from now on.
    kBeginningOfTime = 1,  // Blocks every task.
  };

  // How a queue is made.
  struct Spec {
    explicit Spec(const char* name) : name(name) {}

    Spec SetShouldMonitorQuiescence(bool value) {
      should_monitor_quiescence = value;
      return *this;
    }
    Spec SetShouldNotifyObservers(bool value) {
      should_notify_observers = value;
      return *this;
    }
    Spec SetTimeDomain(TimeDomain* domain) {
      time_domain = domain;
      return *this;
    }
    Spec SetDelayedFencesAllowed(bool allowed) {
      delayed_fence_allowed = allowed;
      return *this;
    }

    const char* name;
    bool should_monitor_quiescence = false;
    // Null: the manager's real time domain.
    TimeDomain* time_domain = nullptr;
    bool should_notify_observers = true;
    bool delayed_fence_allowed = false;
  };

  // When a task ran, as far as anybody asked for it.
  class TaskTiming {
   public:
    enum class State : int32_t { kNotStarted = 0, kRunning = 1, kFinished = 2 };

    TaskTiming(bool has_wall_time, bool has_thread_time);

    // Marks the start; reads the clock through `lazy_now` when wall time is
    // wanted and the thread's CPU clock when thread time is.
    void Start(LazyNow* lazy_now);
    // Marks the end; nothing when already finished.
    void RecordTaskEnd(LazyNow* lazy_now);

    State state() const { return state_; }
    bool has_wall_time() const { return has_wall_time_; }
    bool has_thread_time() const { return has_thread_time_; }
    MonotonicTime start_time() const { return start_time_; }
    MonotonicTime end_time() const { return end_time_; }
    ThreadCpuTime start_thread_time() const { return start_thread_time_; }
    ThreadCpuTime end_thread_time() const { return end_thread_time_; }
    Duration wall_duration() const { return end_time_ - start_time_; }

   private:
    State state_ = State::kNotStarted;
    bool has_wall_time_;
    bool has_thread_time_;
    MonotonicTime start_time_;
    MonotonicTime end_time_;
    ThreadCpuTime start_thread_time_;
    ThreadCpuTime end_thread_time_;
  };

  // Told about the queue's next wake-up, on the manager's thread.
  class Observer {
   public:
    virtual ~Observer() = default;
    // `next_wake_up` is null when the queue has immediate work.
    virtual void OnQueueNextWakeUpChanged(MonotonicTime next_wake_up) = 0;
  };

  // Takes `impl`, which belongs to a manager or to none.
  TaskQueue(std::unique_ptr<internal::TaskQueueImpl> impl, const Spec& spec);
  TaskQueue(const TaskQueue&) = delete;
  TaskQueue& operator=(const TaskQueue&) = delete;

  // Unregisters the queue now; pending tasks are destroyed unrun. Later
  // posts through any of its runners return false. The queue first drops
  // its blame context and its task handlers. Nothing the second time.
  virtual void ShutdownTaskQueue();

  virtual const char* GetName() const;

  // The runner for task type 0. Any thread.
  const scoped_refptr<SingleThreadTaskRunner>& task_runner() const {
    return default_task_runner_;
  }

  // A runner whose tasks carry `task_type`; a refusing one once the queue
  // is gone.
  scoped_refptr<SingleThreadTaskRunner> CreateTaskRunner(TaskType task_type);

  // The queue itself while this handle owns it, else null.
  internal::TaskQueueImpl* GetTaskQueueImpl() const { return impl_.get(); }

 protected:
  virtual ~TaskQueue();

 private:
  friend class RefCountedThreadSafe<
      TaskQueue, DefaultRefCountedThreadSafeTraits<TaskQueue>>;

  // Hands the queue to its manager to finish its tasks, or destroys it.
  void ShutdownTaskQueueGracefully();
  std::unique_ptr<internal::TaskQueueImpl> TakeTaskQueueImpl();

  mutable Lock impl_lock_;
  std::unique_ptr<internal::TaskQueueImpl> impl_;
  WeakPtr<internal::SequenceManagerImpl> sequence_manager_;
  scoped_refptr<internal::AssociatedThreadId> associated_thread_;
  scoped_refptr<SingleThreadTaskRunner> default_task_runner_;
  const char* name_;
  WeakPtrFactory<TaskQueue> weak_factory_{this};
};

}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_TASK_QUEUE_H_
