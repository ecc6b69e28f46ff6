// Conversion between Time and calendar fields through the C library.

#include <time.h>

#include <cstdint>
#include <limits>

#include "agent/base/synchronization/lock.h"
#include "agent/base/time/time.h"
#include "agent/base/time/time_lock.h"

namespace kelmbase {
namespace internal {

Lock& GetTimeLock() {
  // Never destroyed: conversions may run during process exit.
  static Lock* const lock = new Lock();
  return *lock;
}

time_t MakeTimeLocked(struct tm* timestruct, bool is_local) {
  ScopedLock scoped_lock(GetTimeLock());
  return is_local ? mktime(timestruct) : timegm(timestruct);
}

}  // namespace internal

namespace {

// Fills `timestruct` from `seconds`; false when the C library cannot express
// the time (its year does not fit).
bool SysTimeToTimeStruct(time_t seconds, struct tm* timestruct,
                         bool is_local) {
  ScopedLock scoped_lock(internal::GetTimeLock());
  return (is_local ? localtime_r(&seconds, timestruct)
                   : gmtime_r(&seconds, timestruct)) != nullptr;
}

}  // namespace

void Time::ToBreakdown(bool is_local, Breakdown* breakdown) const {
  const int64_t ms = ToMillisecondsSinceUnixEpochFloor();
  int64_t seconds = ms / 1000;
  int64_t millisecond = ms % 1000;
  if (millisecond < 0) {
    millisecond += 1000;
    --seconds;
  }

  struct tm timestruct = {};
  if (!SysTimeToTimeStruct(static_cast<time_t>(seconds), &timestruct,
                           is_local)) {
    *breakdown = Breakdown{};
    return;
  }
  breakdown->year = timestruct.tm_year + 1900;
  breakdown->month = timestruct.tm_mon + 1;
  breakdown->day_of_week = timestruct.tm_wday;
  breakdown->day_of_month = timestruct.tm_mday;
  breakdown->hour = timestruct.tm_hour;
  breakdown->minute = timestruct.tm_min;
  breakdown->second = timestruct.tm_sec;
  breakdown->millisecond = static_cast<int32_t>(millisecond);
}

bool Time::FromBreakdown(bool is_local, const Breakdown& breakdown,
                         Time* time) {
  constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();
  // month - 1 and year - 1900 below must not overflow.
  if (breakdown.month == kInt32Min || breakdown.year < kInt32Min + 1900) {
    *time = Time();
    return false;
  }

  struct tm timestruct = {};
  timestruct.tm_sec = breakdown.second;
  timestruct.tm_min = breakdown.minute;
  timestruct.tm_hour = breakdown.hour;
  timestruct.tm_mday = breakdown.day_of_month;
  timestruct.tm_mon = breakdown.month - 1;
  timestruct.tm_year = breakdown.year - 1900;
  timestruct.tm_wday = breakdown.day_of_week;
  timestruct.tm_yday = 0;
  timestruct.tm_isdst = -1;  // The C library decides.
  timestruct.tm_gmtoff = 0;
  timestruct.tm_zone = nullptr;

  struct tm original = timestruct;
  int64_t seconds = internal::MakeTimeLocked(&timestruct, is_local);
  int64_t milliseconds = 0;
  bool clamped = false;
  if (seconds == -1) {
    // -1 is either an error (an ambiguous or unrepresentable local time) or
    // the real second before the epoch. Try both readings of daylight
    // saving time and take the earlier valid one.
    struct tm standard = original;
    standard.tm_isdst = 0;
    const int64_t seconds_isdst0 = internal::MakeTimeLocked(&standard, is_local);
    struct tm daylight = original;
    daylight.tm_isdst = 1;
    const int64_t seconds_isdst1 = internal::MakeTimeLocked(&daylight, is_local);
    if (seconds_isdst0 < 0) {
      seconds = seconds_isdst1;
    } else if (seconds_isdst1 < 0) {
      seconds = seconds_isdst0;
    } else {
      seconds = seconds_isdst1 < seconds_isdst0 ? seconds_isdst1
                                                : seconds_isdst0;
    }
    if (seconds == -1 && (breakdown.year < 1969 || breakdown.year > 1970)) {
      // Out of the C library's range: clamp to the range of a 32-bit
      // seconds count; the back-conversion below rejects the result unless
      // it happens to be exact.
      milliseconds = breakdown.year < 1969
                         ? INT64_C(-2147483648000)
                         : INT64_C(2147483647999);
      clamped = true;
    }
  }
  if (!clamped) {
    if (__builtin_mul_overflow(seconds, int64_t{1000}, &milliseconds) ||
        __builtin_add_overflow(milliseconds,
                               static_cast<int64_t>(breakdown.millisecond),
                               &milliseconds)) {
      *time = Time();
      return false;
    }
  }

  Time converted;
  if (!FromMillisecondsSinceUnixEpoch(milliseconds, &converted)) {
    *time = Time();
    return false;
  }
  // The C library normalises impossible fields (February 30 becomes March
  // 1 or 2); only a time that converts back to the same fields is real.
  Breakdown round_trip;
  converted.ToBreakdown(is_local, &round_trip);
  if (!(round_trip == breakdown)) {
    *time = Time();
    return false;
  }
  *time = converted;
  return true;
}

}  // namespace kelmbase
