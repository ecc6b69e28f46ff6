#ifndef AGENT_BASE_SYNCHRONIZATION_WAITABLE_EVENT_H_
#define AGENT_BASE_SYNCHRONIZATION_WAITABLE_EVENT_H_

#include <list>

#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/synchronization/condition_variable.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/time/time.h"

namespace kelmbase {

// An event that threads block on until another thread signals it.
//
// Automatic reset: a Signal goes to exactly one waiter (the longest
// waiting); with no waiter the event stays signalled until one wait or
// IsSignaled() consumes it. Manual reset: a Signal wakes every waiter and the
// event stays signalled until Reset().
//
// Any thread may call any operation. Destroying the event while another
// thread is still inside a wait on it is a caller error.
class WaitableEvent {
 public:
  enum class ResetPolicy { kManual = 0, kAutomatic = 1 };
  enum class InitialState { kSignaled = 0, kNotSignaled = 1 };

  // Something waiting for the event. Signal offers itself to waiters in
  // the order they were added.
  class Waiter {
   public:
    virtual ~Waiter() = default;

    // Offered a signal of `signaling_event`; true when the waiter takes it
    // (the signal is then consumed by this waiter). Called with the
    // event's internal lock held; sleeping waiters are woken once the
    // signal has been handed out and that lock released.
    virtual bool Fire(WaitableEvent* signaling_event) = 0;
    // Whether this waiter is the one identified by `tag`.
    virtual bool Compare(void* tag) = 0;
  };

  explicit WaitableEvent(
      ResetPolicy reset_policy = ResetPolicy::kManual,
      InitialState initial_state = InitialState::kNotSignaled);
  WaitableEvent(const WaitableEvent&) = delete;
  WaitableEvent& operator=(const WaitableEvent&) = delete;
  ~WaitableEvent();

  // Makes the event unsignalled.
  void Reset();
  // Signals the event (see the class comment). Signalling an event that is
  // already signalled does nothing.
  void Signal();
  // Whether the event is signalled. For an automatic-reset event a true
  // answer consumes the signal.
  bool IsSignaled();
  // Waits without limit until the event is signalled.
  void Wait();
  // Waits until the event is signalled (true) or `wait_delta` has passed
  // (false). A zero or negative span does not block: it is IsSignaled().
  // Duration::Max() waits without limit. A signal is never lost to a wait
  // that times out at the same moment: either the wait returns true, or the
  // signal stays on the event or goes to another waiter.
  bool TimedWait(const Duration& wait_delta);

  // Declares that waits on this event are idle sleeps (a thread waiting
  // for work), so they open no blocking-call scope.
  void declare_only_used_while_idle() { waits_are_blocking_ = false; }
  bool waits_are_blocking() const { return waits_are_blocking_; }

 private:
  friend class SyncWaiter;

  // The state shared with waiters; outlives any waiter that still holds a
  // reference.
  class WaitableEventKernel
      : public RefCountedThreadSafe<WaitableEventKernel> {
   public:
    WaitableEventKernel(ResetPolicy reset_policy, InitialState initial_state);

    // Removes the first waiter equal to `waiter` whose Compare(tag) answers
    // true; false when there is none. Called with `lock_` held.
    bool Dequeue(Waiter* waiter, void* tag);

    Lock lock_;
    // Waiters sleep on it with `lock_` held; woken by Signal after it
    // releases `lock_`. The wait itself is covered by the event's own
    // blocking-call scope.
    ConditionVariable cv_;
    const bool manual_reset_;
    bool signaled_;
    std::list<Waiter*> waiters_;

   private:
    friend class RefCountedThreadSafe<WaitableEventKernel>;
    ~WaitableEventKernel();
  };

  // Offer the signal to every waiter / to waiters until one takes it;
  // true when some waiter took it. Called with the kernel lock held.
  bool SignalAll();
  bool SignalOne();

  scoped_refptr<WaitableEventKernel> kernel_;
  bool waits_are_blocking_ = true;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_SYNCHRONIZATION_WAITABLE_EVENT_H_
