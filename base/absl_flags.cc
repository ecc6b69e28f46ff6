#include "base/absl_flags.h"

#include <atomic>
#include <cstdlib>
#include <vector>

#include "absl/flags/flag.h"
#include "absl/flags/parse.h"
#include "absl/strings/internal/cord_internal.h"
#include "absl/strings/internal/cordz_functions.h"
#include "absl/strings/numbers.h"
#include "absl/synchronization/mutex.h"

namespace base {
namespace {

std::atomic<int32_t> g_deadlock_detection_mode{0};
std::atomic<int32_t> g_copy_sharing_threshold{0};
std::atomic<bool> g_cord_steals_from_rvalue_strings{false};

// The flag library's parser defines --flagfile, --fromenv, --tryfromenv and
// --undefok. Nothing here parses flags, so without a reference the linker
// would leave the parser, and with it those four flags, out.
[[gnu::used]] std::vector<char*> (*const kFlagParser)(int, char**) =
    &absl::ParseCommandLine;

// The mutex library this program is written against keeps no lock graph:
// its deadlock-detection setter does nothing (see the hook of
// --synch_deadlock_detection below). Debian builds Abseil with assertions,
// which turns the graph on by default: every lock and unlock then updates a
// process-wide graph under a global lock, which each flag registration pays
// before main and every mutex pays after. Switch it off ahead of every
// initializer of default priority, and so before the first flag registers.
__attribute__((constructor(101))) void StartWithoutLockGraph() {
  absl::SetMutexDeadlockDetectionMode(absl::OnDeadlockCycle::kIgnore);
}

}  // namespace

int32_t DeadlockDetectionFromEnv() {
  const char* text = std::getenv("PLOVEX_SYNCH_DEADLOCK_DETECTION");
  int32_t value = 0;
  if (text == nullptr || !absl::SimpleAtoi(text, &value)) return 2;
  return value;
}

int32_t DeadlockDetectionMode() {
  return g_deadlock_detection_mode.load(std::memory_order_relaxed);
}

int32_t CopySharingThreshold() {
  return g_copy_sharing_threshold.load(std::memory_order_relaxed);
}

bool CordStealsFromRvalueStrings() {
  return g_cord_steals_from_rvalue_strings.load(std::memory_order_relaxed);
}

}  // namespace base

ABSL_FLAG(bool, synch_check_invariants, false,
          "check the invariants of every mutex on each lock and unlock "
          "(expensive)")
    .OnUpdate([] {
      absl::EnableMutexInvariantDebugging(
          absl::GetFlag(FLAGS_synch_check_invariants));
    });

// The mutex library this program links decides deadlock detection when it is
// built; switching it on here would make every lock track a lock graph. The
// hook maps the value as the library expects and keeps it.
ABSL_FLAG(int32_t, synch_deadlock_detection, base::DeadlockDetectionFromEnv(),
          "mutex deadlock detection: 0 ignore, 1 report, 2 report and abort")
    .OnUpdate([] {
      const int32_t value = absl::GetFlag(FLAGS_synch_deadlock_detection);
      const int32_t mode = value <= 0 ? 0 : (value == 1 ? 1 : 2);
      base::g_deadlock_detection_mode.store(mode, std::memory_order_relaxed);
    });

ABSL_FLAG(int32_t, cordz_mean_interval, 50000,
          "mean number of cords created between two sampled cords")
    .OnUpdate([] {
      absl::cord_internal::set_cordz_mean_interval(
          absl::GetFlag(FLAGS_cordz_mean_interval));
    });

ABSL_FLAG(int32_t, copy_sharing_threshold, 512,
          "cords at or below this size are copied instead of shared")
    .OnUpdate([] {
      base::g_copy_sharing_threshold.store(
          absl::GetFlag(FLAGS_copy_sharing_threshold),
          std::memory_order_relaxed);
    });

ABSL_FLAG(bool, cord_steals_from_rvalue_strings, false,
          "a cord made from an rvalue string takes over its buffer")
    .OnUpdate([] {
      base::g_cord_steals_from_rvalue_strings.store(
          absl::GetFlag(FLAGS_cord_steals_from_rvalue_strings),
          std::memory_order_relaxed);
    });

ABSL_FLAG(bool, cord_enable_ring_buffer, false,
          "cords use ring buffers for their trees")
    .OnUpdate([] {
      absl::cord_internal::enable_cord_ring_buffer(
          absl::GetFlag(FLAGS_cord_enable_ring_buffer));
    });

ABSL_FLAG(bool, cord_shallow_subcords, false,
          "subcords share the tree of their source instead of copying it")
    .OnUpdate([] {
      absl::cord_internal::enable_shallow_subcords(
          absl::GetFlag(FLAGS_cord_shallow_subcords));
    });

ABSL_RETIRED_FLAG(bool, cord_enable_btree, false, "retired; has no effect");
