#ifndef AGENT_BASE_TIME_DEFAULT_TICK_CLOCK_H_
#define AGENT_BASE_TIME_DEFAULT_TICK_CLOCK_H_

#include "agent/base/time/tick_clock.h"

namespace kelmbase {

// The system's monotonic clock.
class DefaultTickClock : public TickClock {
 public:
  ~DefaultTickClock() override;

  // The one shared instance, made on first use and never destroyed.
  static const DefaultTickClock* GetInstance();

  // MonotonicTime::Now().
  MonotonicTime Now() const override;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TIME_DEFAULT_TICK_CLOCK_H_
