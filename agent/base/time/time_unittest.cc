#include "agent/base/time/time.h"

#include <stdlib.h>
#include <time.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "agent/base/time/default_tick_clock.h"
#include "agent/base/time/token.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();
constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();

Duration Us(int64_t us) { return Duration::FromMicroseconds(us); }

// ---- Duration ----

TEST(DurationTest, FactoriesAndConversions) {
  EXPECT_EQ(Us(86400000000), Duration::FromDays(1));
  EXPECT_EQ(Us(3600000000), Duration::FromHours(1));
  EXPECT_EQ(Us(60000000), Duration::FromMinutes(1));
  EXPECT_EQ(Us(2000000), Duration::FromSeconds(2));
  EXPECT_EQ(Us(3000), Duration::FromMilliseconds(3));
  EXPECT_EQ(Us(1), Duration::FromNanoseconds(1999));
  EXPECT_EQ(Us(1500), Duration::FromMillisecondsD(1.5));
  EXPECT_EQ(Us(2500000), Duration::FromSecondsD(2.5));
  EXPECT_EQ(90, Duration::FromMinutes(90).InMinutes());
  EXPECT_EQ(1, Duration::FromMinutes(90).InHours());
  EXPECT_EQ(2, Duration::FromHours(49).InDays());
  EXPECT_EQ(-2, Us(-2999999).InSeconds());
  EXPECT_DOUBLE_EQ(-2.999999, Us(-2999999).InSecondsF());
  EXPECT_EQ(2, Us(1001).InMillisecondsRoundedUp());
  EXPECT_EQ(-1, Us(-1001).InMillisecondsRoundedUp());
  EXPECT_EQ(7000, Us(7).InNanoseconds());
  EXPECT_EQ(kInt64Max, Duration::Max().InNanoseconds());
}

TEST(DurationTest, FactoriesSaturate) {
  EXPECT_TRUE(Duration::FromSeconds(kInt64Max).is_max());
  EXPECT_TRUE(Duration::FromDays(kInt64Min / 2).is_min());
  EXPECT_TRUE(Duration::FromSecondsD(1e300).is_max());
  EXPECT_TRUE(Duration::FromMillisecondsD(-1e300).is_min());
  EXPECT_TRUE(Duration::FromSecondsD(std::nan("")).is_zero());
}

TEST(DurationTest, InMillisecondsTruncatesTowardZero) {
  EXPECT_EQ(-1, Us(-1500).InMilliseconds());
  EXPECT_EQ(1, Us(1999).InMilliseconds());
  EXPECT_DOUBLE_EQ(-1.5, Us(-1500).InMillisecondsF());
  EXPECT_EQ(kInt64Max, Duration::Max().InMilliseconds());
  EXPECT_EQ(kInt64Min, Duration::Min().InMilliseconds());
  EXPECT_EQ(std::numeric_limits<double>::infinity(),
            Duration::Max().InMillisecondsF());
  EXPECT_EQ(-std::numeric_limits<double>::infinity(),
            Duration::Min().InMillisecondsF());
}

TEST(DurationTest, AdditionAndSubtractionSaturate) {
  EXPECT_EQ(Us(7), Us(5) + Us(2));
  EXPECT_EQ(Us(3), Us(5) - Us(2));
  EXPECT_TRUE((Us(kInt64Max - 1) + Us(5)).is_max());
  EXPECT_TRUE((Us(kInt64Min + 1) - Us(5)).is_min());
  EXPECT_TRUE((Us(kInt64Min + 1) + Us(-5)).is_min());
  EXPECT_TRUE((Us(kInt64Max - 1) - Us(-5)).is_max());
}

TEST(DurationTest, InfiniteRightOperand) {
  EXPECT_TRUE((Duration::Max() + Us(5)).is_max());
  EXPECT_TRUE((Us(5) + Duration::Max()).is_max());
  EXPECT_TRUE((Us(5) + Duration::Min()).is_min());
  EXPECT_TRUE((Us(5) - Duration::Max()).is_min());
  EXPECT_TRUE((Us(5) - Duration::Min()).is_max());
  EXPECT_TRUE((Duration::Max() + Duration::Max()).is_max());
  EXPECT_TRUE((Duration::Max() - Duration::Min()).is_max());
  EXPECT_TRUE((Duration::Min() - Duration::Max()).is_min());
}

// An infinite left operand used to turn finite again when a finite span of
// the other sign was applied (plus infinity + (-1) gave INT64_MAX - 1).
TEST(DurationTest, InfiniteLeftOperandStaysInfinite) {
  struct Case {
    Duration left;
    Duration right;
  };
  for (const Case& c : {Case{Duration::Max(), Us(-1)},
                        Case{Duration::Max(), Us(kInt64Min + 1)},
                        Case{Duration::Max(), Us(1)},
                        Case{Duration::Min(), Us(1)},
                        Case{Duration::Min(), Us(kInt64Max - 1)},
                        Case{Duration::Min(), Us(-1)}}) {
    EXPECT_EQ(c.left, c.left + c.right) << c.left << " + " << c.right;
    EXPECT_EQ(c.left, c.left - c.right) << c.left << " - " << c.right;
  }
  Duration accumulated = Duration::Max();
  accumulated -= Duration::FromSeconds(10);
  EXPECT_TRUE(accumulated.is_max());
  EXPECT_TRUE((MonotonicTime::Max() - Duration::FromSeconds(1)).is_max());
}

TEST(DurationDeathTest, OppositeInfinitiesAreFatal) {
  EXPECT_DEATH((void)(Duration::Max() + Duration::Min()),
               "Check failed: !is_inf\\(\\) \\|\\| \\(delta_ == other.delta_\\)");
  EXPECT_DEATH((void)(Duration::Min() + Duration::Max()),
               "Check failed: !is_inf\\(\\) \\|\\| \\(delta_ == other.delta_\\)");
  EXPECT_DEATH((void)(Duration::Max() - Duration::Max()),
               "Check failed: delta_ != other.delta_");
}

TEST(DurationTest, NegationScalingAndComparison) {
  EXPECT_TRUE((-Duration::Max()).is_min());
  EXPECT_TRUE((-Duration::Min()).is_max());
  EXPECT_EQ(Us(-4), -Us(4));
  EXPECT_TRUE(Duration::Min().magnitude().is_max());
  EXPECT_EQ(Us(4), Us(-4).magnitude());
  EXPECT_EQ(Us(12), Us(4) * 3);
  EXPECT_TRUE((Us(kInt64Max / 2) * 3).is_max());
  EXPECT_TRUE((Us(kInt64Max / 2) * -3).is_min());
  EXPECT_EQ(Us(-2), Us(-5) / 2);
  EXPECT_TRUE((Us(5) / 0).is_max());
  EXPECT_TRUE((Duration::Min() / -1).is_max());
  EXPECT_EQ(2, Us(5).IntDiv(Us(2)));
  EXPECT_EQ(Us(1), Us(5) % Us(2));
  EXPECT_LT(Duration::Min(), Us(0));
  EXPECT_GT(Duration::Max(), Us(kInt64Max - 1));
}

TEST(DurationTest, TimeSpecRoundTrip) {
  timespec ts = Us(3000007).ToTimeSpec();
  EXPECT_EQ(3, ts.tv_sec);
  EXPECT_EQ(7000, ts.tv_nsec);
  EXPECT_EQ(Us(3000007), Duration::FromTimeSpec(ts));
}

// ---- Time ----

TEST(TimeTest, MillisecondsSinceUnixEpoch) {
  Time time;
  ASSERT_TRUE(Time::FromMillisecondsSinceUnixEpoch(0, &time));
  EXPECT_EQ(INT64_C(0x295E9648864000), time.ToInternalValue());
  EXPECT_EQ(Time::UnixEpoch(), time);
  EXPECT_EQ(INT64_C(0xA9730B66800), Time::kTimeTToMillisecondsOffset);

  ASSERT_TRUE(Time::FromMillisecondsSinceUnixEpoch(-1500, &time));
  EXPECT_EQ(-1500, time.ToMillisecondsSinceUnixEpochFloor());
  EXPECT_EQ(-1, (Time::UnixEpoch() - Us(1)).ToMillisecondsSinceUnixEpochFloor());
  EXPECT_EQ(0, (Time::UnixEpoch() + Us(999)).ToMillisecondsSinceUnixEpochFloor());

  EXPECT_FALSE(Time::FromMillisecondsSinceUnixEpoch(kInt64Max, &time));
  EXPECT_TRUE(time.is_null());
  // The product fits, the sum with the offset does not.
  ASSERT_TRUE(Time::FromMillisecondsSinceUnixEpoch(0, &time));
  EXPECT_FALSE(Time::FromMillisecondsSinceUnixEpoch(kInt64Max / 1000, &time));
  EXPECT_TRUE(time.is_null());
}

TEST(TimeTest, NowAgreesWithTheSystemClock) {
  const time_t before = time(nullptr);
  const Time now = Time::Now();
  const time_t after = time(nullptr);
  EXPECT_GE(now.ToTimeT(), before);
  // time() reads the kernel's coarse clock, which lags the precise one by up
  // to a tick: just past a second's end, `after` may still name the second
  // before.
  EXPECT_LE(now.ToTimeT(), after + 1);
  EXPECT_FALSE(now.is_null());
}

TEST(TimeTest, PosixConversions) {
  EXPECT_EQ(Time::UnixEpoch() + Duration::FromSeconds(100),
            Time::FromTimeT(100));
  timespec ts = {5, 6000};
  EXPECT_EQ(Time::UnixEpoch() + Us(5000006), Time::FromTimeSpec(ts));
  timeval tv = (Time::UnixEpoch() - Us(1)).ToTimeVal();
  EXPECT_EQ(-1, tv.tv_sec);
  EXPECT_EQ(999999, tv.tv_usec);
  EXPECT_EQ(Time::UnixEpoch() - Us(1), Time::FromTimeVal(tv));
}

TEST(MonotonicTimeTest, NeverGoesBackAndSaturates) {
  MonotonicTime previous = MonotonicTime::Now();
  for (int i = 0; i < 1000; ++i) {
    MonotonicTime now = MonotonicTime::Now();
    ASSERT_GE(now, previous);
    previous = now;
  }
  timespec ts;
  ASSERT_EQ(0, clock_gettime(CLOCK_MONOTONIC, &ts));
  EXPECT_LE(MonotonicTime::Now().ToInternalValue() / 1000000 - ts.tv_sec, 1);
  EXPECT_TRUE((previous + Duration::Max()).is_max());
  EXPECT_EQ(Duration::FromSeconds(1),
            (previous + Duration::FromSeconds(1)) - previous);
  EXPECT_FALSE(ThreadCpuTime::Now().is_inf());
  const MonotonicTime from_clock = DefaultTickClock::GetInstance()->Now();
  EXPECT_LE(from_clock, MonotonicTime::Now());
  EXPECT_EQ(DefaultTickClock::GetInstance(), DefaultTickClock::GetInstance());
}

// ---- Breakdown ----

Time::Breakdown Fields(int year, int month, int day, int hour, int minute,
                       int second, int millisecond, int day_of_week = 0) {
  return Time::Breakdown{year,   month,  day_of_week, day,
                         hour,   minute, second,      millisecond};
}

// Runs a test body under a given TZ and puts the old one back.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = getenv("TZ")) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

TEST(TimeBreakdownTest, IsValidChecksEveryFieldButYear) {
  EXPECT_TRUE(Fields(2024, 2, 29, 23, 59, 60, 999).IsValid());
  EXPECT_TRUE(Fields(-5, 1, 1, 0, 0, 0, 0).IsValid());
  struct Case {
    Time::Breakdown fields;
    const char* what;
  } cases[] = {
      {Fields(2024, 0, 1, 0, 0, 0, 0), "month 0"},
      {Fields(2024, 13, 1, 0, 0, 0, 0), "month 13"},
      {Fields(2024, 1, 0, 0, 0, 0, 0), "day 0"},
      {Fields(2024, 1, 32, 0, 0, 0, 0), "day 32"},
      {Fields(2024, 1, 1, 24, 0, 0, 0), "hour 24"},
      {Fields(2024, 1, 1, 0, 60, 0, 0), "minute 60"},
      {Fields(2024, 1, 1, 0, 0, 61, 0), "second 61"},
      {Fields(2024, 1, 1, 0, 0, 0, 1000), "millisecond 1000"},
      {Fields(2024, 1, 1, 0, 0, 0, 0, 7), "day of week 7"},
      {Fields(2024, 1, 1, -1, 0, 0, 0), "negative hour"},
      {Fields(2024, 1, 1, 0, 0, 0, -1), "negative millisecond"},
      {Fields(2024, 1, 1, 0, 0, 0, 0, -1), "negative day of week"},
  };
  for (const Case& c : cases) EXPECT_FALSE(c.fields.IsValid()) << c.what;
}

TEST(TimeBreakdownTest, EqualityIgnoresDayOfWeek) {
  EXPECT_EQ(Fields(2024, 3, 1, 1, 2, 3, 4, 5), Fields(2024, 3, 1, 1, 2, 3, 4, 0));
  EXPECT_FALSE(Fields(2024, 3, 1, 1, 2, 3, 4) == Fields(2024, 3, 1, 1, 2, 3, 5));
}

TEST(TimeBreakdownTest, UtcAroundTheEpoch) {
  ScopedTimeZone zone("PST8PDT,M3.2.0,M11.1.0");  // Must not matter for UTC.
  Time time;
  ASSERT_TRUE(Time::FromBreakdown(false, Fields(1970, 1, 1, 0, 0, 0, 0), &time));
  EXPECT_EQ(Time::kTimeTToMicrosecondsOffset, time.ToInternalValue());
  // timegm answers -1 for this second, the same as its error value.
  ASSERT_TRUE(
      Time::FromBreakdown(false, Fields(1969, 12, 31, 23, 59, 59, 0), &time));
  EXPECT_EQ(Time::kTimeTToMicrosecondsOffset - 1000000, time.ToInternalValue());

  Time::Breakdown fields;
  (Time::UnixEpoch() - Us(1)).ToBreakdown(false, &fields);
  EXPECT_EQ(Fields(1969, 12, 31, 23, 59, 59, 999), fields);
  EXPECT_EQ(3, fields.day_of_week);  // Wednesday.
}

TEST(TimeBreakdownTest, UtcRoundTripsAndDayOfWeek) {
  Time time;
  ASSERT_TRUE(
      Time::FromBreakdown(false, Fields(2024, 2, 29, 13, 14, 15, 678), &time));
  EXPECT_EQ(1709212455678, time.ToMillisecondsSinceUnixEpochFloor());
  Time::Breakdown fields;
  time.ToBreakdown(false, &fields);
  EXPECT_EQ(Fields(2024, 2, 29, 13, 14, 15, 678), fields);
  EXPECT_EQ(4, fields.day_of_week);  // Thursday.
  // A wrong day of week in the input is not an error.
  ASSERT_TRUE(
      Time::FromBreakdown(false, Fields(2024, 2, 29, 13, 14, 15, 678, 6), &time));
  EXPECT_EQ(1709212455678, time.ToMillisecondsSinceUnixEpochFloor());
  // Far from the epoch (certificate dates reach 9999).
  ASSERT_TRUE(
      Time::FromBreakdown(false, Fields(9999, 12, 31, 23, 59, 59, 0), &time));
  EXPECT_EQ(253402300799000, time.ToMillisecondsSinceUnixEpochFloor());
  ASSERT_TRUE(Time::FromBreakdown(false, Fields(1601, 1, 1, 0, 0, 0, 1), &time));
  EXPECT_EQ(1000, time.ToInternalValue());
}

TEST(TimeBreakdownTest, ImpossibleFieldsAreRejected) {
  const Time::Breakdown cases[] = {
      Fields(2023, 2, 29, 0, 0, 0, 0),   Fields(2024, 2, 30, 0, 0, 0, 0),
      Fields(2024, 4, 31, 0, 0, 0, 0),   Fields(2024, 1, 1, 0, 0, 61, 0),
      Fields(2024, 1, 1, 24, 0, 0, 0),   Fields(2024, 13, 1, 0, 0, 0, 0),
      Fields(2024, 1, 1, 0, 0, 0, 1000), Fields(2024, 0, 1, 0, 0, 0, 0),
  };
  for (bool is_local : {false, true}) {
    for (const Time::Breakdown& fields : cases) {
      Time time = Time::Now();
      EXPECT_FALSE(Time::FromBreakdown(is_local, fields, &time))
          << fields.year << "-" << fields.month << "-" << fields.day_of_month;
      EXPECT_TRUE(time.is_null());
    }
  }
}

TEST(TimeBreakdownTest, ArithmeticOverflowIsRejectedUpFront) {
  Time time = Time::Now();
  EXPECT_FALSE(
      Time::FromBreakdown(false, Fields(2024, kInt32Min, 1, 0, 0, 0, 0), &time));
  EXPECT_TRUE(time.is_null());
  time = Time::Now();
  EXPECT_FALSE(
      Time::FromBreakdown(true, Fields(kInt32Min + 1899, 1, 1, 0, 0, 0, 0), &time));
  EXPECT_TRUE(time.is_null());
  // Beyond Time's range: milliseconds overflow.
  time = Time::Now();
  EXPECT_FALSE(Time::FromBreakdown(false, Fields(300000000, 1, 1, 0, 0, 0, 0),
                                   &time));
  EXPECT_TRUE(time.is_null());
}

TEST(TimeBreakdownTest, LocalTimeFollowsTheZone) {
  struct Case {
    const char* zone;
    Time::Breakdown local;  // Local reading of 2024-07-01 12:00:00.250 UTC.
  } cases[] = {
      {"UTC0", Fields(2024, 7, 1, 12, 0, 0, 250)},
      {"JST-9", Fields(2024, 7, 1, 21, 0, 0, 250)},
      {"EST5EDT,M3.2.0,M11.1.0", Fields(2024, 7, 1, 8, 0, 0, 250)},  // EDT.
      {"IST-5:30", Fields(2024, 7, 1, 17, 30, 0, 250)},
      {"<+14>-14", Fields(2024, 7, 2, 2, 0, 0, 250)},
      {"<-03>3", Fields(2024, 7, 1, 9, 0, 0, 250)},
  };
  Time utc;
  ASSERT_TRUE(Time::FromBreakdown(false, Fields(2024, 7, 1, 12, 0, 0, 250), &utc));
  for (const Case& c : cases) {
    ScopedTimeZone zone(c.zone);
    Time::Breakdown fields;
    utc.ToBreakdown(true, &fields);
    EXPECT_EQ(c.local, fields) << c.zone << " hour " << fields.hour;
    Time back;
    ASSERT_TRUE(Time::FromBreakdown(true, c.local, &back)) << c.zone;
    EXPECT_EQ(utc, back) << c.zone;
  }
}

TEST(TimeBreakdownTest, LocalTimeAcrossDaylightSavingChanges) {
  ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
  // 2024-03-10 02:30 does not exist in this zone.
  Time time = Time::Now();
  EXPECT_FALSE(
      Time::FromBreakdown(true, Fields(2024, 3, 10, 2, 30, 0, 0), &time));
  EXPECT_TRUE(time.is_null());
  // 2024-11-03 01:30 happens twice; either reading converts back.
  ASSERT_TRUE(Time::FromBreakdown(true, Fields(2024, 11, 3, 1, 30, 0, 0), &time));
  const int64_t seconds = time.ToTimeT();
  EXPECT_TRUE(seconds == 1730611800 || seconds == 1730615400) << seconds;
  // Winter and summer offsets.
  ASSERT_TRUE(Time::FromBreakdown(true, Fields(2024, 1, 15, 7, 0, 0, 0), &time));
  EXPECT_EQ(1705320000, time.ToTimeT());  // 12:00 UTC.
  ASSERT_TRUE(Time::FromBreakdown(true, Fields(2024, 7, 15, 8, 0, 0, 0), &time));
  EXPECT_EQ(1721044800, time.ToTimeT());  // 12:00 UTC.
}

TEST(TokenTest, ToStringIsUpperCaseHex) {
  EXPECT_EQ("000000000000000100000000000000AB", Token(1, 0xAB).ToString());
  EXPECT_EQ("FFFFFFFFFFFFFFFF0000000000000000",
            Token(~uint64_t{0}, 0).ToString());
  EXPECT_EQ(32u, Token().ToString().size());
}

}  // namespace
}  // namespace kelmbase
