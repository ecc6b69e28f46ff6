#ifndef BASE_SCHEDULING_HOOK_OVERRIDES_H_
#define BASE_SCHEDULING_HOOK_OVERRIDES_H_

// Overrides of the mutex library's weak scheduling hooks. A thread run by a
// user-level scheduler would hand control to it here; no such scheduler
// exists in this program, so every hook takes its plain path: sched_yield, a
// nanosleep loop, a futex wait or wake. The library calls them on the
// calling thread; they are exported under the library's own symbol names.

#include "absl/base/config.h"
#include "absl/base/internal/thread_identity.h"
#include "absl/synchronization/internal/kernel_timeout.h"
#include "absl/time/time.h"

extern "C" {

void ABSL_INTERNAL_C_SYMBOL(AbslInternalMutexYield)();
void ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)(absl::Duration duration);
void ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemPost)(
    absl::base_internal::ThreadIdentity* identity);
bool ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemWait)(
    absl::synchronization_internal::KernelTimeout t);

}  // extern "C"

#endif  // BASE_SCHEDULING_HOOK_OVERRIDES_H_
