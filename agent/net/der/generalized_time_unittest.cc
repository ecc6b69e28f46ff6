#include "agent/net/der/generalized_time.h"

#include "gtest/gtest.h"

namespace net::der {
namespace {

TEST(GeneralizedTimeTest, OrderIsChronological) {
  const GeneralizedTime earlier = {2024, 1, 1, 0, 0, 0};
  const GeneralizedTime later = {2024, 1, 1, 0, 0, 1};
  EXPECT_TRUE(earlier < later);
  EXPECT_FALSE(later < earlier);
  EXPECT_FALSE(earlier < earlier);
  // Each field outranks all those after it.
  EXPECT_TRUE((GeneralizedTime{2023, 12, 31, 23, 59, 60}) <
              (GeneralizedTime{2024, 1, 1, 0, 0, 0}));
  EXPECT_TRUE((GeneralizedTime{2024, 1, 31, 23, 59, 59}) <
              (GeneralizedTime{2024, 2, 1, 0, 0, 0}));
}

TEST(GeneralizedTimeTest, RoundTripsThroughTime) {
  const GeneralizedTime kCases[] = {
      {1970, 1, 1, 0, 0, 0},
      {2024, 2, 29, 12, 34, 56},
      {1601, 1, 1, 0, 0, 0},
      {9999, 12, 31, 23, 59, 59},
      {2049, 12, 31, 23, 59, 59},
  };
  for (const GeneralizedTime& in : kCases) {
    kelmbase::Time time;
    ASSERT_TRUE(GeneralizedTimeToTime(in, &time)) << in.year;
    GeneralizedTime out;
    ASSERT_TRUE(TimeToGeneralizedTime(time, &out)) << in.year;
    EXPECT_FALSE(in < out) << in.year;
    EXPECT_FALSE(out < in) << in.year;
  }
}

TEST(GeneralizedTimeTest, UnixEpochIsTheKnownInstant) {
  kelmbase::Time time;
  ASSERT_TRUE(GeneralizedTimeToTime({1970, 1, 1, 0, 0, 0}, &time));
  EXPECT_EQ(kelmbase::Time::UnixEpoch(), time);
  ASSERT_TRUE(GeneralizedTimeToTime({1970, 1, 1, 0, 0, 1}, &time));
  EXPECT_EQ(1, time.ToTimeT());
}

TEST(GeneralizedTimeTest, MillisecondsAreDropped) {
  kelmbase::Time time = kelmbase::Time::UnixEpoch() +
                        kelmbase::Duration::FromMilliseconds(1999);
  GeneralizedTime out;
  ASSERT_TRUE(TimeToGeneralizedTime(time, &out));
  EXPECT_EQ(1970, out.year);
  EXPECT_EQ(1, out.seconds);
}

TEST(GeneralizedTimeTest, ImpossibleFieldsDoNotConvert) {
  kelmbase::Time time;
  EXPECT_FALSE(GeneralizedTimeToTime({2023, 2, 29, 0, 0, 0}, &time));
  EXPECT_FALSE(GeneralizedTimeToTime({2024, 13, 1, 0, 0, 0}, &time));
}

// A year that does not fit in four digits must not be narrowed into the
// 16-bit field: 75536 would come out as 10000 and 65537 as year 1.
TEST(GeneralizedTimeTest, YearsPastFourDigitsDoNotConvert) {
  const int32_t kYears[] = {10000, 65537, 75536};
  for (int32_t year : kYears) {
    kelmbase::Time::Breakdown breakdown = {};
    breakdown.year = year;
    breakdown.month = 1;
    breakdown.day_of_month = 1;
    kelmbase::Time time;
    ASSERT_TRUE(kelmbase::Time::FromBreakdown(false, breakdown, &time))
        << year;
    GeneralizedTime out;
    EXPECT_FALSE(TimeToGeneralizedTime(time, &out)) << year;
  }
}

TEST(GeneralizedTimeTest, InRange) {
  EXPECT_TRUE((GeneralizedTime{2024, 2, 29, 23, 59, 60}).InRange());
  EXPECT_FALSE((GeneralizedTime{1900, 2, 29, 0, 0, 0}).InRange());
  EXPECT_TRUE((GeneralizedTime{1600, 2, 29, 0, 0, 0}).InRange());
  EXPECT_FALSE((GeneralizedTime{2024, 6, 31, 0, 0, 0}).InRange());
  EXPECT_FALSE((GeneralizedTime{2024, 1, 1, 0, 60, 0}).InRange());
}

}  // namespace
}  // namespace net::der
