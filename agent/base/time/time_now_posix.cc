#include <sys/time.h>
#include <time.h>

#include <cstdint>

#include "agent/base/time/time.h"
#include "logging/check.h"

namespace kelmbase {
namespace internal {

TimeNowFunction g_time_now_function = &SystemTimeNow;
MonotonicTimeNowFunction g_monotonic_time_now_function = &MonotonicClockNow;
ThreadCpuTimeNowFunction g_thread_cpu_time_now_function = &ThreadCpuClockNow;

int64_t ClockNowInMicroseconds(clockid_t clk_id) {
  struct timespec ts;
  CHECK(clock_gettime(clk_id, &ts) == 0);
  int64_t us = 0;
  // Clock values never come near the limit; an overflow means a broken
  // clock, and a silently wrapped time would be worse than stopping.
  if (__builtin_mul_overflow(static_cast<int64_t>(ts.tv_sec),
                             Duration::kMicrosecondsPerSecond, &us) ||
      __builtin_add_overflow(us, ts.tv_nsec / Duration::kNanosecondsPerMicrosecond,
                             &us)) {
    __builtin_trap();
  }
  return us;
}

Time SystemTimeNow() {
  struct timeval tv;
  struct timezone tz = {0, 0};
  CHECK(gettimeofday(&tv, &tz) == 0);
  return Time::UnixEpoch() + Duration::FromSeconds(tv.tv_sec) +
         Duration::FromMicroseconds(tv.tv_usec);
}

MonotonicTime MonotonicClockNow() {
  return MonotonicTime::FromInternalValue(
      ClockNowInMicroseconds(CLOCK_MONOTONIC));
}

ThreadCpuTime ThreadCpuClockNow() {
  return ThreadCpuTime::FromInternalValue(
      ClockNowInMicroseconds(CLOCK_THREAD_CPUTIME_ID));
}

}  // namespace internal
}  // namespace kelmbase
