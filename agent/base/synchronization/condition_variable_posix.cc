#include <errno.h>
#include <time.h>

#include <limits>
#include <optional>

#include "agent/base/synchronization/condition_variable.h"
#include "agent/base/threading/scoped_blocking_call.h"

namespace kelmbase {

ConditionVariable::ConditionVariable(Lock* user_lock)
    : user_mutex_(&user_lock->native_handle_) {
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&condition_, &attributes);
  pthread_condattr_destroy(&attributes);
}

ConditionVariable::~ConditionVariable() { pthread_cond_destroy(&condition_); }

void ConditionVariable::Wait() {
  std::optional<ScopedBlockingCallWithBaseSyncPrimitives> scoped_blocking_call;
  if (waits_are_blocking_) {
    scoped_blocking_call.emplace(FROM_HERE, BlockingType::kMayBlock);
  }
  pthread_cond_wait(&condition_, user_mutex_);
}

void ConditionVariable::TimedWait(const Duration& max_time) {
  std::optional<ScopedBlockingCallWithBaseSyncPrimitives> scoped_blocking_call;
  if (waits_are_blocking_) {
    scoped_blocking_call.emplace(FROM_HERE, BlockingType::kMayBlock);
  }
  const int64_t usecs = max_time.InMicroseconds();
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  struct timespec deadline;
  const int64_t seconds_to_add = usecs / Duration::kMicrosecondsPerSecond;
  int64_t nanoseconds =
      now.tv_nsec + (usecs % Duration::kMicrosecondsPerSecond) *
                        Duration::kNanosecondsPerMicrosecond;
  int64_t carry = nanoseconds / 1000000000;
  nanoseconds %= 1000000000;
  if (nanoseconds < 0) {
    nanoseconds += 1000000000;
    --carry;
  }
  // A deadline past the end of time_t (an enormous finite span) becomes
  // the latest representable one rather than wrapping into the past.
  int64_t seconds = 0;
  if (__builtin_add_overflow(static_cast<int64_t>(now.tv_sec), seconds_to_add,
                             &seconds) ||
      __builtin_add_overflow(seconds, carry, &seconds)) {
    seconds = usecs < 0 ? 0 : std::numeric_limits<int64_t>::max();
    nanoseconds = usecs < 0 ? 0 : 999999999;
  }
  deadline.tv_sec = static_cast<time_t>(seconds);
  deadline.tv_nsec = static_cast<long>(nanoseconds);
  pthread_cond_timedwait(&condition_, user_mutex_, &deadline);
}

void ConditionVariable::Broadcast() { pthread_cond_broadcast(&condition_); }

}  // namespace kelmbase
