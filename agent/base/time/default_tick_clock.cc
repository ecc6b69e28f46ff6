#include "agent/base/time/default_tick_clock.h"

namespace kelmbase {

DefaultTickClock::~DefaultTickClock() = default;

const DefaultTickClock* DefaultTickClock::GetInstance() {
  static const DefaultTickClock* const instance = new DefaultTickClock();
  return instance;
}

MonotonicTime DefaultTickClock::Now() const { return MonotonicTime::Now(); }

}  // namespace kelmbase
