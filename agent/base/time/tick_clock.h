#ifndef AGENT_BASE_TIME_TICK_CLOCK_H_
#define AGENT_BASE_TIME_TICK_CLOCK_H_

#include "agent/base/time/time.h"

namespace kelmbase {

// A source of monotonic time. Code that schedules by time takes a clock so
// that tests can substitute their own.
class TickClock {
 public:
  virtual ~TickClock();

  // The current time of this clock; never goes back.
  virtual MonotonicTime Now() const = 0;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TIME_TICK_CLOCK_H_
