#ifndef AGENT_NET_DER_GENERALIZED_TIME_H_
#define AGENT_NET_DER_GENERALIZED_TIME_H_

#include <cstdint>

#include "agent/base/time/time.h"

namespace net::der {

// A calendar time in UTC to the second, as certificates carry it.
struct GeneralizedTime {
  uint16_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
  uint8_t hours = 0;
  uint8_t minutes = 0;
  uint8_t seconds = 0;

  // Month 1-12, a day that exists in that month (February 29 only in leap
  // years), hours 0-23, minutes 0-59 and seconds 0-60 (a leap second passes).
  // The year is not limited.
  bool InRange() const;
};

// Earlier first: lexicographic on (year, month, day, hours, minutes, seconds).
bool operator<(const GeneralizedTime& lhs, const GeneralizedTime& rhs);

// `time` broken down in UTC, milliseconds dropped. False when the breakdown
// fails or its year lies outside 0-9999, the years a GeneralizedTime can
// write.
[[nodiscard]] bool TimeToGeneralizedTime(const kelmbase::Time& time,
                                         GeneralizedTime* out);

// The time `generalized` names, read as UTC. False when it names none.
[[nodiscard]] bool GeneralizedTimeToTime(const GeneralizedTime& generalized,
                                         kelmbase::Time* out);

}  // namespace net::der

#endif  // AGENT_NET_DER_GENERALIZED_TIME_H_
