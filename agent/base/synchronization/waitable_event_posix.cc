#include <optional>

#include "agent/base/debug/activity_tracker.h"
#include "agent/base/location.h"
#include "agent/base/synchronization/condition_variable.h"
#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/threading/scoped_blocking_call.h"

// Each wait puts a SyncWaiter, which lives on the waiting thread's stack,
// on the event kernel's list and sleeps on the kernel's condition variable
// until Signal hands it the signal. Signal wakes sleepers only after it has
// released the kernel lock, so a woken thread does not block again at once
// on a lock its waker still holds; a reference to the kernel keeps the
// condition variable alive even when the woken thread destroys the event
// straight away.

namespace kelmbase {

// A waiter for one synchronous wait. Everything in it is guarded by the
// kernel lock of the event it waits on.
class SyncWaiter : public WaitableEvent::Waiter {
 public:
  SyncWaiter() = default;

  bool Fire(WaitableEvent* signaling_event) override {
    if (fired_) return false;
    fired_ = true;
    signaling_event_ = signaling_event;
    return true;
  }

  bool Compare(void* tag) override { return this == tag; }

  // From here on every Signal is refused and passes on to the next waiter
  // (or leaves the event signalled).
  void Disable() { fired_ = true; }

  bool fired() const { return fired_; }
  WaitableEvent* signaling_event() const { return signaling_event_; }

 private:
  bool fired_ = false;
  WaitableEvent* signaling_event_ = nullptr;
};

WaitableEvent::WaitableEventKernel::WaitableEventKernel(
    ResetPolicy reset_policy, InitialState initial_state)
    : cv_(&lock_),
      manual_reset_(reset_policy == ResetPolicy::kManual),
      signaled_(initial_state == InitialState::kSignaled) {
  // TimedWait opens the blocking-call scope itself, when the event's waits
  // count as blocking.
  cv_.declare_only_used_while_idle();
}

WaitableEvent::WaitableEventKernel::~WaitableEventKernel() = default;

bool WaitableEvent::WaitableEventKernel::Dequeue(Waiter* waiter, void* tag) {
  for (auto it = waiters_.begin(); it != waiters_.end(); ++it) {
    if (*it == waiter && (*it)->Compare(tag)) {
      waiters_.erase(it);
      return true;
    }
  }
  return false;
}

WaitableEvent::WaitableEvent(ResetPolicy reset_policy,
                             InitialState initial_state)
    : kernel_(MakeRefCounted<WaitableEventKernel>(reset_policy,
                                                  initial_state)) {}

WaitableEvent::~WaitableEvent() = default;

void WaitableEvent::Reset() {
  ScopedLock locked(kernel_->lock_);
  kernel_->signaled_ = false;
}

void WaitableEvent::Signal() {
  // A woken waiter may destroy this event as soon as it can take the
  // kernel lock; from then on only this reference keeps the kernel.
  const scoped_refptr<WaitableEventKernel> kernel = kernel_;
  bool taken = false;
  {
    ScopedLock locked(kernel->lock_);
    if (kernel->signaled_) return;
    if (kernel->manual_reset_) {
      taken = SignalAll();
      kernel->signaled_ = true;
    } else {
      // Automatic reset: the signal goes to one waiter, or stays on the
      // event when nobody takes it.
      taken = SignalOne();
      if (!taken) kernel->signaled_ = true;
    }
  }
  if (taken) kernel->cv_.Broadcast();
}

bool WaitableEvent::IsSignaled() {
  ScopedLock locked(kernel_->lock_);
  const bool result = kernel_->signaled_;
  if (result && !kernel_->manual_reset_) kernel_->signaled_ = false;
  return result;
}

void WaitableEvent::Wait() {
  const bool result = TimedWait(Duration::Max());
  (void)result;
}

__attribute__((noinline)) bool WaitableEvent::TimedWait(
    const Duration& wait_delta) {
  if (wait_delta <= Duration()) return IsSignaled();

  // Declared in this order so that the blocking scope closes first.
  std::optional<debug::EventWaitActivityScope> event_activity;
  std::optional<ScopedBlockingCallWithBaseSyncPrimitives> scoped_blocking_call;
  if (waits_are_blocking_) {
    event_activity.emplace(GetCallerAddress(), this);
    scoped_blocking_call.emplace(FROM_HERE, BlockingType::kMayBlock);
  }

  kernel_->lock_.Acquire();
  if (kernel_->signaled_) {
    if (!kernel_->manual_reset_) kernel_->signaled_ = false;
    kernel_->lock_.Release();
    return true;
  }

  SyncWaiter sw;
  kernel_->waiters_.push_back(&sw);

  const bool wait_forever = wait_delta.is_max();
  const MonotonicTime end_time =
      wait_forever ? MonotonicTime::Max()
                   : internal::MonotonicClockNow() + wait_delta;
  Duration remaining = wait_delta;
  while (!sw.fired() && remaining >= Duration::FromMicroseconds(1)) {
    if (wait_forever) {
      kernel_->cv_.Wait();
    } else {
      kernel_->cv_.TimedWait(remaining);
      remaining = end_time - internal::MonotonicClockNow();
    }
  }
  const bool result = sw.fired();
  // A Signal from now on passes this waiter by instead of being lost.
  sw.Disable();
  // Still listed when the wait timed out (Signal removes those it fires).
  kernel_->Dequeue(&sw, &sw);
  kernel_->lock_.Release();
  return result;
}

bool WaitableEvent::SignalAll() {
  bool taken = false;
  for (Waiter* waiter : kernel_->waiters_) {
    if (waiter->Fire(this)) taken = true;
  }
  kernel_->waiters_.clear();
  return taken;
}

bool WaitableEvent::SignalOne() {
  while (!kernel_->waiters_.empty()) {
    Waiter* waiter = kernel_->waiters_.front();
    const bool taken = waiter->Fire(this);
    kernel_->waiters_.pop_front();
    if (taken) return true;
  }
  return false;
}

}  // namespace kelmbase
