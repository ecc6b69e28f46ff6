#ifndef INTERNAL_CERTIFICATE_TIMED_LOG_THROTTLE_H_
#define INTERNAL_CERTIFICATE_TIMED_LOG_THROTTLE_H_

#include <cstdint>

namespace vantorel {

// Lets a repeated record through at most once per period, on the standard
// library's steady clock in whole milliseconds. A plain value without a
// lock: its owner calls it from one thread at a time.
class TimedLogThrottle {
 public:
  // Arms the throttle at the current time: a ShouldLog within the same
  // millisecond says no.
  void Reset();

  // Whether now is strictly after the next allowed time; when it is, the
  // next allowed time becomes now plus `seconds`.
  bool ShouldLog(double seconds);

 private:
  int64_t next_allowed_ms_ = 0;
};

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_TIMED_LOG_THROTTLE_H_
