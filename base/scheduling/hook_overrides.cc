#include "base/scheduling/hook_overrides.h"

#include <errno.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>

#include "absl/synchronization/internal/create_thread_identity.h"
#include "absl/synchronization/internal/per_thread_sem.h"
#include "absl/synchronization/internal/waiter.h"
#include "base/scheduling/downcalls.h"

namespace {

using absl::base_internal::ThreadIdentity;
using absl::synchronization_internal::Waiter;
using base::scheduling::ThreadSchedulingState;

// Sleeps at least this long let the scheduler run something else meanwhile.
constexpr absl::Duration kBlockingSleep = absl::Microseconds(5);

// The calling thread's scheduling state when a scheduler manages it.
ThreadSchedulingState* ManagedSelf() {
  ThreadSchedulingState* state =
      base::scheduling::CurrentThreadStateIfPresent();
  return state != nullptr && state->managing_slot != nullptr ? state : nullptr;
}

// Tells the scheduler that the thread blocks in the kernel for a while.
class BlockingRegion {
 public:
  explicit BlockingRegion(ThreadSchedulingState* state) : state_(state) {
    if (state_ == nullptr) return;
    if (state_->blocking_region_nesting++ != 0) return;
    if (state_->rescheduling_disabled == 0) {
      state_->managing_slot->scheduler->EnterBlockingRegion();
    } else {
      ++state_->rescheduling_disabled;
    }
  }
  ~BlockingRegion() {
    if (state_ == nullptr) return;
    if (--state_->blocking_region_nesting != 0) return;
    if (state_->rescheduling_disabled < 2) {
      const int saved_errno = errno;
      state_->managing_slot->scheduler->LeaveBlockingRegion();
      errno = saved_errno;
    } else {
      --state_->rescheduling_disabled;
    }
  }

 private:
  ThreadSchedulingState* const state_;
};

// Sleeps are done in pieces no longer than this, so that any duration fits
// a timespec.
constexpr absl::Duration kLongestSleepChunk = absl::Hours(24);

}  // namespace

extern "C" {

void ABSL_INTERNAL_C_SYMBOL(AbslInternalMutexYield)() {
  ThreadSchedulingState* state = ManagedSelf();
  if (state != nullptr && state->rescheduling_disabled == 0) {
    base::scheduling::Reschedule(true, absl::InfiniteFuture());
    return;
  }
  sched_yield();
}

void ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)(absl::Duration duration) {
  ThreadSchedulingState* state =
      duration >= kBlockingSleep ? ManagedSelf() : nullptr;
  BlockingRegion region(state);
  // An infinite duration stays infinite after every subtraction.
  while (duration > absl::ZeroDuration()) {
    const absl::Duration chunk = std::min(duration, kLongestSleepChunk);
    struct timespec request = absl::ToTimespec(chunk);
    struct timespec remaining;
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) {
      request = remaining;
    }
    duration -= chunk;
  }
}

void ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemPost)(
    ThreadIdentity* identity) {
  if (ThreadSchedulingState* state =
          base::scheduling::ManagedStateFor(identity)) {
    absl::base_internal::SpinLockHolder hold(&state->lock);
    if (state->managing_slot != nullptr) {
      base::scheduling::Wake(state->managing_slot);
      return;
    }
  }
  Waiter::GetWaiter(identity)->Post();
}

bool ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemWait)(
    absl::synchronization_internal::KernelTimeout t) {
  ThreadIdentity* identity =
      absl::synchronization_internal::GetOrCreateCurrentThreadIdentity();
  const int ticker = identity->ticker.load(std::memory_order_relaxed);
  identity->wait_start.store(std::max(ticker, 1), std::memory_order_relaxed);
  identity->is_idle.store(false, std::memory_order_relaxed);
  std::atomic<int>* blocked = identity->blocked_count_ptr;
  if (blocked != nullptr) blocked->fetch_add(1, std::memory_order_relaxed);
  ThreadSchedulingState* state = ManagedSelf();
  const bool woken =
      state != nullptr
          ? base::scheduling::Reschedule(
                false, t.has_timeout() ? absl::TimeFromTimespec(
                                             t.MakeAbsTimespec())
                                       : absl::InfiniteFuture())
          : Waiter::GetWaiter(identity)->Wait(t);
  if (blocked != nullptr) blocked->fetch_sub(1, std::memory_order_relaxed);
  identity->is_idle.store(false, std::memory_order_relaxed);
  identity->wait_start.store(0, std::memory_order_relaxed);
  return woken;
}

}  // extern "C"
