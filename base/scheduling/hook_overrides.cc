#include "base/scheduling/hook_overrides.h"

#include <errno.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>

#include "absl/synchronization/internal/create_thread_identity.h"
#include "absl/synchronization/internal/per_thread_sem.h"
#include "absl/synchronization/internal/waiter.h"

namespace {

using absl::base_internal::ThreadIdentity;
using absl::synchronization_internal::Waiter;

// Sleeps are done in pieces no longer than this, so that any duration fits
// a timespec.
constexpr absl::Duration kLongestSleepChunk = absl::Hours(24);

}  // namespace

extern "C" {

void ABSL_INTERNAL_C_SYMBOL(AbslInternalMutexYield)() { sched_yield(); }

void ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)(absl::Duration duration) {
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
  const bool woken = Waiter::GetWaiter(identity)->Wait(t);
  if (blocked != nullptr) blocked->fetch_sub(1, std::memory_order_relaxed);
  identity->is_idle.store(false, std::memory_order_relaxed);
  identity->wait_start.store(0, std::memory_order_relaxed);
  return woken;
}

}  // extern "C"
