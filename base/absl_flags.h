#ifndef BASE_ABSL_FLAGS_H_
#define BASE_ABSL_FLAGS_H_

#include <cstdint>

#include "absl/flags/declare.h"

// Flags that configure Abseil's mutex and string libraries. Their update
// hooks run once, when the flag is registered before main, and push the
// default into the library.
ABSL_DECLARE_FLAG(bool, synch_check_invariants);
ABSL_DECLARE_FLAG(int32_t, synch_deadlock_detection);
ABSL_DECLARE_FLAG(int32_t, cordz_mean_interval);
ABSL_DECLARE_FLAG(int32_t, copy_sharing_threshold);
ABSL_DECLARE_FLAG(bool, cord_steals_from_rvalue_strings);
ABSL_DECLARE_FLAG(bool, cord_enable_ring_buffer);
ABSL_DECLARE_FLAG(bool, cord_shallow_subcords);

namespace base {

// The default of --synch_deadlock_detection: PLOVEX_SYNCH_DEADLOCK_DETECTION
// parsed as an int32, or 2 when it is unset or not a number.
int32_t DeadlockDetectionFromEnv();

// The mode the --synch_deadlock_detection hook last handed over: the value
// mapped to 0 (<= 0), 1 (1) or 2 (anything else). The mode is only kept
// here: the mutex library's own detection is off from start-up, whatever
// the flag says.
int32_t DeadlockDetectionMode();

// Process globals the string-library hooks store into. Nothing reads them in
// this program; they exist so the flags have a place to land.
int32_t CopySharingThreshold();
bool CordStealsFromRvalueStrings();

}  // namespace base

#endif  // BASE_ABSL_FLAGS_H_
