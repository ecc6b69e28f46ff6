#ifndef AGENT_BASE_SYNCHRONIZATION_CONDITION_VARIABLE_H_
#define AGENT_BASE_SYNCHRONIZATION_CONDITION_VARIABLE_H_

#include <pthread.h>

#include "agent/base/synchronization/lock.h"
#include "agent/base/time/time.h"

namespace kelmbase {

// A condition variable over a Lock, timed on the monotonic clock (so a
// change of the wall clock does not stretch or cut a TimedWait). Waits may
// return early; callers re-check their condition in a loop:
//
//   ScopedLock hold(lock);
//   while (!ready) condition.Wait();
class ConditionVariable {
 public:
  // `user_lock` must outlive the condition variable.
  explicit ConditionVariable(Lock* user_lock);
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;
  ~ConditionVariable();

  // Waits until woken; the caller holds the lock, which is released while
  // waiting and held again on return.
  void Wait();
  // The same, returning after at most `max_time` (a finite span).
  void TimedWait(const Duration& max_time);
  // Wakes every waiter.
  void Broadcast();

  // Waits open a blocking-call scope unless the owner declares that they
  // are idle waits (e.g. a thread sleeping for want of work).
  void declare_only_used_while_idle() { waits_are_blocking_ = false; }
  bool waits_are_blocking() const { return waits_are_blocking_; }

 private:
  pthread_cond_t condition_;
  pthread_mutex_t* const user_mutex_;
  bool waits_are_blocking_ = true;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_SYNCHRONIZATION_CONDITION_VARIABLE_H_
