#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_TIME_DOMAIN_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_TIME_DOMAIN_H_

#include <cstddef>
#include <optional>
#include <vector>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/sequence_manager/associated_thread_id.h"
#include "agent/base/task/sequence_manager/lazy_now.h"
#include "agent/base/task/sequence_manager/task.h"
#include "agent/base/time/time.h"
#include "agent/base/values.h"

namespace kelmbase {
namespace sequence_manager {

namespace internal {
class SequenceManagerImpl;
class TaskQueueImpl;
}  // namespace internal

// The earliest delayed task of one queue, as its time domain keeps it.
struct DelayedWakeUp {
  MonotonicTime time;
  // The sequence number of that task.
  int sequence_num = 0;
  WakeUpResolution resolution = WakeUpResolution::kLow;

  bool operator==(const DelayedWakeUp& other) const = default;

  // Heap order: earlier time, then earlier sequence number (also across
  // the 32-bit wrap), then low resolution first.
  bool ComesBefore(const DelayedWakeUp& other) const;
};

// The clock that task queues measure their delayed tasks against, and the
// keeper of each queue's earliest delayed run time. Whenever the earliest
// wake-up of the whole domain changes it tells the thread controller when to
// wake (or that there is work now).
//
// Manager's thread only, except Now(), which reads a thread-safe clock.
class TimeDomain {
 public:
  TimeDomain(const TimeDomain&) = delete;
  TimeDomain& operator=(const TimeDomain&) = delete;
  // Forgets the queues still in the heap (their handles become -1).
  virtual ~TimeDomain();

  virtual LazyNow CreateLazyNow() const = 0;
  virtual MonotonicTime Now() const = 0;
  // None when nothing is scheduled; zero when the earliest wake-up is due.
  virtual std::optional<Duration> DelayTillNextTask(LazyNow* lazy_now) = 0;
  // Advances a virtual clock to the next task when that is what the domain
  // does; true when it did.
  virtual bool MaybeFastForwardToNextTask(bool quit_when_idle_requested) = 0;
  virtual const char* GetName() const = 0;

  // Sets, replaces or (with none) removes the queue's wake-up.
  void SetNextWakeUpForQueue(internal::TaskQueueImpl* queue,
                             std::optional<DelayedWakeUp> wake_up,
                             LazyNow* lazy_now);
  void UnregisterQueue(internal::TaskQueueImpl* queue);

  // Moves the ready delayed tasks of every due queue, in heap order.
  void MoveReadyDelayedTasksToWorkQueues(LazyNow* lazy_now);

  std::optional<MonotonicTime> NextScheduledRunTime() const;
  bool HasPendingHighResolutionTasks() const {
    return pending_high_res_wake_up_count_ != 0;
  }
  size_t NumberOfScheduledWakeUps() const {
    return delayed_wake_up_queue_.size();
  }

  // "name", "registered_delay_count" and, with wake-ups, "next_delay_ms".
  Value AsValue() const;

 protected:
  TimeDomain();

  // Asks the controller to run delayed work at `run_time` (the largest time
  // for none).
  virtual void SetNextDelayedDoWork(LazyNow* lazy_now, MonotonicTime run_time);
  // Asks the controller for work now.
  virtual void RequestDoWork();
  // Called when the manager registers this domain.
  virtual void OnRegisterWithSequenceManager(
      internal::SequenceManagerImpl* sequence_manager);

  internal::SequenceManagerImpl* sequence_manager() const {
    return sequence_manager_;
  }

 private:
  friend class internal::SequenceManagerImpl;

  struct ScheduledDelayedWakeUp {
    DelayedWakeUp wake_up;
    internal::TaskQueueImpl* queue;
  };

  bool HeapBefore(size_t a, size_t b) const;
  void MoveEntry(size_t to, ScheduledDelayedWakeUp entry);
  void SiftUp(size_t index);
  void SiftDown(size_t index);
  void EraseAt(size_t index);

  internal::SequenceManagerImpl* sequence_manager_ = nullptr;
  std::vector<ScheduledDelayedWakeUp> delayed_wake_up_queue_;
  int pending_high_res_wake_up_count_ = 0;
  scoped_refptr<internal::AssociatedThreadId> associated_thread_;
};

}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_TIME_DOMAIN_H_
