#ifndef AGENT_BASE_TIME_TIME_H_
#define AGENT_BASE_TIME_TIME_H_

// Time types of the base library:
//   Duration       a signed span in microseconds; its two extreme values are
//                  plus and minus infinity and all arithmetic saturates there.
//   Time           wall-clock time, microseconds since 1601-01-01 00:00 UTC.
//   MonotonicTime  CLOCK_MONOTONIC, microseconds from an arbitrary origin.
//   ThreadCpuTime  CPU time consumed by the calling thread, microseconds.

#include <sys/time.h>
#include <time.h>

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <limits>

// The calendar-conversion lock and the token's text form belong to the
// same library; one include brings all of it.
#include "agent/base/time/time_lock.h"
#include "agent/base/time/token.h"

namespace kelmbase {

class Duration;
class Time;
class MonotonicTime;
class ThreadCpuTime;

namespace time_internal {

// Overflow-clamped multiplication used by the factories, so that e.g.
// FromSeconds(INT64_MAX) is plus infinity rather than garbage.
constexpr int64_t SaturatedMultiply(int64_t value, int64_t factor) {
  int64_t result = 0;
  if (__builtin_mul_overflow(value, factor, &result)) {
    return (value < 0) != (factor < 0) ? std::numeric_limits<int64_t>::min()
                                       : std::numeric_limits<int64_t>::max();
  }
  return result;
}

}  // namespace time_internal

class Duration {
 public:
  static constexpr int64_t kMicrosecondsPerMillisecond = 1000;
  static constexpr int64_t kMicrosecondsPerSecond = 1000000;
  static constexpr int64_t kMicrosecondsPerMinute = 60 * kMicrosecondsPerSecond;
  static constexpr int64_t kMicrosecondsPerHour = 60 * kMicrosecondsPerMinute;
  static constexpr int64_t kMicrosecondsPerDay = 24 * kMicrosecondsPerHour;
  static constexpr int64_t kNanosecondsPerMicrosecond = 1000;

  // Zero.
  constexpr Duration() = default;

  // Factories. Values beyond the range saturate to the infinities.
  static constexpr Duration FromDays(int64_t days) {
    return Duration(time_internal::SaturatedMultiply(days, kMicrosecondsPerDay));
  }
  static constexpr Duration FromHours(int64_t hours) {
    return Duration(
        time_internal::SaturatedMultiply(hours, kMicrosecondsPerHour));
  }
  static constexpr Duration FromMinutes(int64_t minutes) {
    return Duration(
        time_internal::SaturatedMultiply(minutes, kMicrosecondsPerMinute));
  }
  static constexpr Duration FromSeconds(int64_t seconds) {
    return Duration(
        time_internal::SaturatedMultiply(seconds, kMicrosecondsPerSecond));
  }
  static constexpr Duration FromMilliseconds(int64_t milliseconds) {
    return Duration(time_internal::SaturatedMultiply(
        milliseconds, kMicrosecondsPerMillisecond));
  }
  static constexpr Duration FromMicroseconds(int64_t microseconds) {
    return Duration(microseconds);
  }
  // Truncates toward zero to whole microseconds.
  static constexpr Duration FromNanoseconds(int64_t nanoseconds) {
    return Duration(nanoseconds / kNanosecondsPerMicrosecond);
  }
  // Fractional forms: truncate toward zero; NaN is zero; out-of-range values
  // saturate.
  static Duration FromSecondsD(double seconds);
  static Duration FromMillisecondsD(double milliseconds);
  static Duration FromMicrosecondsD(double microseconds);
  // A POSIX timespec (nanoseconds truncated to microseconds).
  static Duration FromTimeSpec(const timespec& ts);

  // Plus infinity and minus infinity.
  static constexpr Duration Max() {
    return Duration(std::numeric_limits<int64_t>::max());
  }
  static constexpr Duration Min() {
    return Duration(std::numeric_limits<int64_t>::min());
  }

  constexpr bool is_zero() const { return delta_ == 0; }
  constexpr bool is_positive() const { return delta_ > 0; }
  constexpr bool is_negative() const { return delta_ < 0; }
  constexpr bool is_max() const { return *this == Max(); }
  constexpr bool is_min() const { return *this == Min(); }
  // Either infinity.
  constexpr bool is_inf() const { return is_min() || is_max(); }

  // The absolute value; minus infinity gives plus infinity.
  constexpr Duration magnitude() const {
    if (is_min()) return Max();
    return Duration(delta_ < 0 ? -delta_ : delta_);
  }

  // Conversions. Integer forms truncate toward zero and map the infinities
  // to the extremes of their result type (INT64_MAX / INT64_MIN, or
  // INT32_MAX / INT32_MIN for InDays, InHours and InMinutes); floating-point
  // forms map them to plus and minus infinity.
  int InDays() const;
  int InHours() const;
  int InMinutes() const;
  int64_t InSeconds() const;
  double InSecondsF() const;
  int64_t InMilliseconds() const;
  double InMillisecondsF() const;
  // Rounds toward plus infinity instead of truncating.
  int64_t InMillisecondsRoundedUp() const;
  constexpr int64_t InMicroseconds() const { return delta_; }
  double InMicrosecondsF() const;
  // INT64_MAX / INT64_MIN when the nanosecond count does not fit.
  int64_t InNanoseconds() const;
  // Finite, non-negative spans only; infinite spans give the largest
  // representable timespec.
  timespec ToTimeSpec() const;

  // Saturating arithmetic. An infinite operand dominates a finite one: plus
  // infinity plus or minus any finite span stays plus infinity (likewise
  // minus infinity). Adding opposite infinities (or subtracting equal ones)
  // is a fatal CHECK.
  Duration operator+(Duration other) const;
  Duration operator-(Duration other) const;
  Duration& operator+=(Duration other) { return *this = *this + other; }
  Duration& operator-=(Duration other) { return *this = *this - other; }
  constexpr Duration operator-() const {
    if (is_max()) return Min();
    if (is_min()) return Max();
    return Duration(-delta_);
  }

  // Scaling saturates; division by zero gives an infinity of the dividend's
  // sign (zero divided by zero is zero).
  Duration operator*(int64_t factor) const;
  Duration operator/(int64_t divisor) const;
  Duration& operator*=(int64_t factor) { return *this = *this * factor; }
  Duration& operator/=(int64_t divisor) { return *this = *this / divisor; }
  // How many times `divisor` fits in this span, truncated toward zero.
  int64_t IntDiv(Duration divisor) const;
  constexpr Duration operator%(Duration divisor) const {
    return Duration(delta_ % divisor.delta_);
  }

  constexpr bool operator==(const Duration& other) const = default;
  constexpr auto operator<=>(const Duration& other) const = default;

 private:
  constexpr explicit Duration(int64_t delta_us) : delta_(delta_us) {}

  int64_t delta_ = 0;
};

inline Duration operator*(int64_t factor, Duration duration) {
  return duration * factor;
}

// Prints e.g. "1.5 ms", "inf" or "-inf".
std::ostream& operator<<(std::ostream& os, Duration duration);

namespace time_internal {

// Common part of the three time points: a microsecond count against a
// fixed origin, with Duration arithmetic that saturates at the extremes.
// A count of 0 is the null value of each type.
template <class T>
class TimePoint {
 public:
  constexpr bool is_null() const { return us_ == 0; }
  constexpr bool is_max() const {
    return us_ == std::numeric_limits<int64_t>::max();
  }
  constexpr bool is_min() const {
    return us_ == std::numeric_limits<int64_t>::min();
  }
  constexpr bool is_inf() const { return is_min() || is_max(); }

  // The raw microsecond count against the type's origin, and back.
  static constexpr T FromInternalValue(int64_t us) { return T(us); }
  constexpr int64_t ToInternalValue() const { return us_; }

  static constexpr T Max() { return T(std::numeric_limits<int64_t>::max()); }
  static constexpr T Min() { return T(std::numeric_limits<int64_t>::min()); }

  // The span since the origin.
  constexpr Duration since_origin() const {
    return Duration::FromMicroseconds(us_);
  }

  T operator+(Duration delta) const {
    return T((since_origin() + delta).InMicroseconds());
  }
  T operator-(Duration delta) const {
    return T((since_origin() - delta).InMicroseconds());
  }
  T& operator+=(Duration delta) {
    return static_cast<T&>(*this) = *this + delta;
  }
  T& operator-=(Duration delta) {
    return static_cast<T&>(*this) = *this - delta;
  }
  Duration operator-(T other) const {
    return since_origin() - other.since_origin();
  }

  constexpr bool operator==(const TimePoint& other) const = default;
  constexpr auto operator<=>(const TimePoint& other) const = default;

 protected:
  constexpr explicit TimePoint(int64_t us) : us_(us) {}

  int64_t us_;
};

}  // namespace time_internal

class Time : public time_internal::TimePoint<Time> {
 public:
  // Microseconds between 1601-01-01 and the Unix epoch 1970-01-01 UTC.
  static constexpr int64_t kTimeTToMicrosecondsOffset =
      INT64_C(11644473600000000);
  static constexpr int64_t kTimeTToMillisecondsOffset =
      kTimeTToMicrosecondsOffset / Duration::kMicrosecondsPerMillisecond;

  // Calendar fields of a Time, in UTC or local time.
  struct Breakdown {
    int32_t year;          // Full year, e.g. 2024.
    int32_t month;         // 1-12.
    int32_t day_of_week;   // 0-6, Sunday is 0.
    int32_t day_of_month;  // 1-31.
    int32_t hour;          // 0-23.
    int32_t minute;        // 0-59.
    int32_t second;        // 0-60 (60 allows for a leap second).
    int32_t millisecond;   // 0-999.

    // Every field but the year lies within its range above.
    bool IsValid() const;
    // Equal in every field except day_of_week, which is derived data.
    bool operator==(const Breakdown& other) const;
  };

  // The null time.
  constexpr Time() : TimePoint(0) {}

  // Wall-clock now.
  static Time Now();
  // 1970-01-01 00:00:00 UTC.
  static constexpr Time UnixEpoch() { return Time(kTimeTToMicrosecondsOffset); }

  // From and to POSIX forms. Saturate rather than overflow.
  static Time FromTimeT(time_t seconds);
  static Time FromTimeSpec(const timespec& ts);
  static Time FromTimeVal(const timeval& tv);
  time_t ToTimeT() const;
  timeval ToTimeVal() const;

  // ms x 1000 plus the epoch offset. False and a null `*time` when the
  // result does not fit.
  [[nodiscard]] static bool FromMillisecondsSinceUnixEpoch(int64_t ms,
                                                           Time* time);
  // Milliseconds since the Unix epoch, rounded toward minus infinity.
  int64_t ToMillisecondsSinceUnixEpochFloor() const;

  // Calendar fields of this time in local time (`is_local`) or UTC. The
  // local zone is whatever the C library currently holds (TZ after tzset).
  // A time that the C library cannot express leaves every field 0.
  void ToBreakdown(bool is_local, Breakdown* breakdown) const;
  // The time of `breakdown`, read as local time (`is_local`) or UTC.
  // False and a null `*time` when the fields name no real time (February
  // 30, second 61, ...) or one out of range. day_of_week is ignored.
  [[nodiscard]] static bool FromBreakdown(bool is_local,
                                          const Breakdown& breakdown,
                                          Time* time);

 private:
  friend class time_internal::TimePoint<Time>;
  constexpr explicit Time(int64_t us) : TimePoint(us) {}
};

class MonotonicTime : public time_internal::TimePoint<MonotonicTime> {
 public:
  constexpr MonotonicTime() : TimePoint(0) {}

  // CLOCK_MONOTONIC now.
  static MonotonicTime Now();

 private:
  friend class time_internal::TimePoint<MonotonicTime>;
  constexpr explicit MonotonicTime(int64_t us) : TimePoint(us) {}
};

class ThreadCpuTime : public time_internal::TimePoint<ThreadCpuTime> {
 public:
  constexpr ThreadCpuTime() : TimePoint(0) {}

  // CPU time of the calling thread.
  static ThreadCpuTime Now();

 private:
  friend class time_internal::TimePoint<ThreadCpuTime>;
  constexpr explicit ThreadCpuTime(int64_t us) : TimePoint(us) {}
};

std::ostream& operator<<(std::ostream& os, Time time);
std::ostream& operator<<(std::ostream& os, MonotonicTime time);

namespace internal {

using TimeNowFunction = Time (*)();
using MonotonicTimeNowFunction = MonotonicTime (*)();
using ThreadCpuTimeNowFunction = ThreadCpuTime (*)();

// The process-wide clocks behind the Now() functions. They point at the
// system clocks below and are never replaced in this program.
extern TimeNowFunction g_time_now_function;
extern MonotonicTimeNowFunction g_monotonic_time_now_function;
extern ThreadCpuTimeNowFunction g_thread_cpu_time_now_function;

// The system clocks.
Time SystemTimeNow();
MonotonicTime MonotonicClockNow();
ThreadCpuTime ThreadCpuClockNow();
// clock_gettime(clk_id) in microseconds; a clock failure is fatal and an
// overflow traps.
int64_t ClockNowInMicroseconds(clockid_t clk_id);

}  // namespace internal

}  // namespace kelmbase

#endif  // AGENT_BASE_TIME_TIME_H_
