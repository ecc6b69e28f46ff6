#include "agent/base/time/tick_clock.h"

namespace kelmbase {

TickClock::~TickClock() = default;

}  // namespace kelmbase
