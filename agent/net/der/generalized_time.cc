#include "agent/net/der/generalized_time.h"

#include <tuple>

namespace net::der {

namespace {

bool IsLeapYear(unsigned year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
  switch (month) {
    case 2:
      return IsLeapYear(year) ? 29 : 28;
    case 4:
    case 6:
    case 9:
    case 11:
      return 30;
    default:
      return 31;
  }
}

// The years a four-digit GeneralizedTime can write.
constexpr int32_t kMinYear = 0;
constexpr int32_t kMaxYear = 9999;

}  // namespace

bool GeneralizedTime::InRange() const {
  if (month < 1 || month > 12)
    return false;
  if (day < 1 || day > DaysInMonth(year, month))
    return false;
  return hours <= 23 && minutes <= 59 && seconds <= 60;
}

bool operator<(const GeneralizedTime& lhs, const GeneralizedTime& rhs) {
  return std::tie(lhs.year, lhs.month, lhs.day, lhs.hours, lhs.minutes,
                  lhs.seconds) < std::tie(rhs.year, rhs.month, rhs.day,
                                          rhs.hours, rhs.minutes, rhs.seconds);
}

bool TimeToGeneralizedTime(const kelmbase::Time& time, GeneralizedTime* out) {
  kelmbase::Time::Breakdown breakdown;
  time.ToBreakdown(/*is_local=*/false, &breakdown);
  if (!breakdown.IsValid())
    return false;
  // The year field is 16 bits wide: a larger year would be cut down to
  // another, valid-looking one.
  if (breakdown.year < kMinYear || breakdown.year > kMaxYear)
    return false;
  out->year = static_cast<uint16_t>(breakdown.year);
  out->month = static_cast<uint8_t>(breakdown.month);
  out->day = static_cast<uint8_t>(breakdown.day_of_month);
  out->hours = static_cast<uint8_t>(breakdown.hour);
  out->minutes = static_cast<uint8_t>(breakdown.minute);
  out->seconds = static_cast<uint8_t>(breakdown.second);
  return true;
}

bool GeneralizedTimeToTime(const GeneralizedTime& generalized,
                           kelmbase::Time* out) {
  kelmbase::Time::Breakdown breakdown = {};
  breakdown.year = generalized.year;
  breakdown.month = generalized.month;
  breakdown.day_of_week = 0;
  breakdown.day_of_month = generalized.day;
  breakdown.hour = generalized.hours;
  breakdown.minute = generalized.minutes;
  breakdown.second = generalized.seconds;
  breakdown.millisecond = 0;
  return kelmbase::Time::FromBreakdown(/*is_local=*/false, breakdown, out);
}

}  // namespace net::der
