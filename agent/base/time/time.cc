#include "agent/base/time/time.h"

#include <cmath>
#include <limits>
#include <ostream>

#include "logging/check.h"

namespace kelmbase {
namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

Duration FromDouble(double microseconds) {
  if (std::isnan(microseconds)) return Duration();
  // 2^63 itself is not representable, so compare with >=.
  if (microseconds >= 9223372036854775808.0) return Duration::Max();
  if (microseconds <= -9223372036854775808.0) return Duration::Min();
  return Duration::FromMicroseconds(static_cast<int64_t>(microseconds));
}

int ClampToInt(int64_t value) {
  if (value > std::numeric_limits<int>::max()) {
    return std::numeric_limits<int>::max();
  }
  if (value < std::numeric_limits<int>::min()) {
    return std::numeric_limits<int>::min();
  }
  return static_cast<int>(value);
}

}  // namespace

Duration Duration::FromSecondsD(double seconds) {
  return FromDouble(seconds * kMicrosecondsPerSecond);
}

Duration Duration::FromMillisecondsD(double milliseconds) {
  return FromDouble(milliseconds * kMicrosecondsPerMillisecond);
}

Duration Duration::FromMicrosecondsD(double microseconds) {
  return FromDouble(microseconds);
}

Duration Duration::FromTimeSpec(const timespec& ts) {
  return FromSeconds(ts.tv_sec) +
         FromMicroseconds(ts.tv_nsec / kNanosecondsPerMicrosecond);
}

int Duration::InDays() const {
  if (is_max()) return std::numeric_limits<int>::max();
  if (is_min()) return std::numeric_limits<int>::min();
  return ClampToInt(delta_ / kMicrosecondsPerDay);
}

int Duration::InHours() const {
  if (is_max()) return std::numeric_limits<int>::max();
  if (is_min()) return std::numeric_limits<int>::min();
  return ClampToInt(delta_ / kMicrosecondsPerHour);
}

int Duration::InMinutes() const {
  if (is_max()) return std::numeric_limits<int>::max();
  if (is_min()) return std::numeric_limits<int>::min();
  return ClampToInt(delta_ / kMicrosecondsPerMinute);
}

int64_t Duration::InSeconds() const {
  if (is_inf()) return delta_;
  return delta_ / kMicrosecondsPerSecond;
}

double Duration::InSecondsF() const {
  if (is_max()) return std::numeric_limits<double>::infinity();
  if (is_min()) return -std::numeric_limits<double>::infinity();
  return static_cast<double>(delta_) / kMicrosecondsPerSecond;
}

int64_t Duration::InMilliseconds() const {
  if (is_inf()) return delta_;
  return delta_ / kMicrosecondsPerMillisecond;
}

double Duration::InMillisecondsF() const {
  if (is_max()) return std::numeric_limits<double>::infinity();
  if (is_min()) return -std::numeric_limits<double>::infinity();
  return static_cast<double>(delta_) / kMicrosecondsPerMillisecond;
}

int64_t Duration::InMillisecondsRoundedUp() const {
  if (is_inf()) return delta_;
  int64_t result = delta_ / kMicrosecondsPerMillisecond;
  if (delta_ > 0 && delta_ % kMicrosecondsPerMillisecond != 0) ++result;
  return result;
}

double Duration::InMicrosecondsF() const {
  if (is_max()) return std::numeric_limits<double>::infinity();
  if (is_min()) return -std::numeric_limits<double>::infinity();
  return static_cast<double>(delta_);
}

int64_t Duration::InNanoseconds() const {
  return time_internal::SaturatedMultiply(delta_, kNanosecondsPerMicrosecond);
}

timespec Duration::ToTimeSpec() const {
  timespec ts;
  if (is_inf() || delta_ / kMicrosecondsPerSecond >
                      std::numeric_limits<time_t>::max()) {
    ts.tv_sec = std::numeric_limits<time_t>::max();
    ts.tv_nsec = 999999999;
    return ts;
  }
  ts.tv_sec = static_cast<time_t>(delta_ / kMicrosecondsPerSecond);
  ts.tv_nsec = static_cast<long>(delta_ % kMicrosecondsPerSecond) *
               kNanosecondsPerMicrosecond;
  return ts;
}

Duration Duration::operator+(Duration other) const {
  if (!other.is_inf()) {
    // An infinite span stays infinite whatever finite span is added.
    if (is_inf()) return *this;
    int64_t sum = 0;
    if (__builtin_add_overflow(delta_, other.delta_, &sum)) {
      return other.delta_ < 0 ? Min() : Max();
    }
    return Duration(sum);
  }
  // Only the sum of the two opposite infinities has no value.
  CHECK(!is_inf() || (delta_ == other.delta_));
  return other;
}

Duration Duration::operator-(Duration other) const {
  if (!other.is_inf()) {
    if (is_inf()) return *this;
    int64_t difference = 0;
    if (__builtin_sub_overflow(delta_, other.delta_, &difference)) {
      return other.delta_ < 0 ? Max() : Min();
    }
    return Duration(difference);
  }
  CHECK_NE(delta_, other.delta_);
  return -other;
}

Duration Duration::operator*(int64_t factor) const {
  return Duration(time_internal::SaturatedMultiply(delta_, factor));
}

Duration Duration::operator/(int64_t divisor) const {
  if (divisor == 0) {
    if (delta_ == 0) return Duration();
    return delta_ < 0 ? Min() : Max();
  }
  // INT64_MIN / -1 overflows.
  if (delta_ == kInt64Min && divisor == -1) return Max();
  if (is_inf()) return (delta_ < 0) == (divisor < 0) ? Max() : Min();
  return Duration(delta_ / divisor);
}

int64_t Duration::IntDiv(Duration divisor) const {
  if (divisor.delta_ == 0) {
    if (delta_ == 0) return 0;
    return delta_ < 0 ? kInt64Min : kInt64Max;
  }
  if (delta_ == kInt64Min && divisor.delta_ == -1) return kInt64Max;
  return delta_ / divisor.delta_;
}

std::ostream& operator<<(std::ostream& os, Duration duration) {
  if (duration.is_max()) return os << "inf";
  if (duration.is_min()) return os << "-inf";
  return os << duration.InMillisecondsF() << " ms";
}

Time Time::Now() { return internal::g_time_now_function(); }

Time Time::FromTimeT(time_t seconds) {
  return UnixEpoch() + Duration::FromSeconds(seconds);
}

Time Time::FromTimeSpec(const timespec& ts) {
  return UnixEpoch() + Duration::FromTimeSpec(ts);
}

Time Time::FromTimeVal(const timeval& tv) {
  return UnixEpoch() + Duration::FromSeconds(tv.tv_sec) +
         Duration::FromMicroseconds(tv.tv_usec);
}

time_t Time::ToTimeT() const {
  if (is_inf()) return us_ < 0 ? std::numeric_limits<time_t>::min()
                               : std::numeric_limits<time_t>::max();
  return (*this - UnixEpoch()).InSeconds();
}

timeval Time::ToTimeVal() const {
  timeval tv;
  const Duration since_epoch = *this - UnixEpoch();
  int64_t seconds = since_epoch.InSeconds();
  int64_t micros = since_epoch.InMicroseconds() % Duration::kMicrosecondsPerSecond;
  if (micros < 0) {
    micros += Duration::kMicrosecondsPerSecond;
    --seconds;
  }
  tv.tv_sec = static_cast<time_t>(seconds);
  tv.tv_usec = static_cast<suseconds_t>(micros);
  return tv;
}

bool Time::FromMillisecondsSinceUnixEpoch(int64_t ms, Time* time) {
  int64_t us = 0;
  if (__builtin_mul_overflow(ms, Duration::kMicrosecondsPerMillisecond, &us) ||
      __builtin_add_overflow(us, kTimeTToMicrosecondsOffset, &us)) {
    *time = Time();
    return false;
  }
  *time = Time(us);
  return true;
}

int64_t Time::ToMillisecondsSinceUnixEpochFloor() const {
  int64_t ms = us_ / Duration::kMicrosecondsPerMillisecond;
  if (us_ % Duration::kMicrosecondsPerMillisecond < 0) --ms;
  return ms - kTimeTToMillisecondsOffset;
}

MonotonicTime MonotonicTime::Now() {
  return internal::g_monotonic_time_now_function();
}

ThreadCpuTime ThreadCpuTime::Now() {
  return internal::g_thread_cpu_time_now_function();
}

std::ostream& operator<<(std::ostream& os, Time time) {
  return os << time.ToInternalValue() << " us since 1601";
}

std::ostream& operator<<(std::ostream& os, MonotonicTime time) {
  return os << "monotonic " << time.ToInternalValue() << " us";
}

bool Time::Breakdown::IsValid() const {
  auto in_range = [](int32_t value, uint32_t low, uint32_t high) {
    // Unsigned comparison: negative values fail.
    return static_cast<uint32_t>(value) >= low &&
           static_cast<uint32_t>(value) <= high;
  };
  return in_range(month, 1, 12) && in_range(day_of_week, 0, 6) &&
         in_range(day_of_month, 1, 31) && in_range(hour, 0, 23) &&
         in_range(minute, 0, 59) && in_range(second, 0, 60) &&
         in_range(millisecond, 0, 999);
}

bool Time::Breakdown::operator==(const Breakdown& other) const {
  return year == other.year && month == other.month &&
         day_of_month == other.day_of_month && hour == other.hour &&
         minute == other.minute && second == other.second &&
         millisecond == other.millisecond;
}

}  // namespace kelmbase
