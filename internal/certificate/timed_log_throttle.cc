#include "internal/certificate/timed_log_throttle.h"

#include <chrono>

namespace vantorel {

namespace {

int64_t NowInMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void TimedLogThrottle::Reset() { next_allowed_ms_ = NowInMilliseconds(); }

bool TimedLogThrottle::ShouldLog(double seconds) {
  const int64_t now = NowInMilliseconds();
  if (now <= next_allowed_ms_) return false;
  next_allowed_ms_ = static_cast<int64_t>(seconds * 1000 + now);
  return true;
}

}  // namespace vantorel
