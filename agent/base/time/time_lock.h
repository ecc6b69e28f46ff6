#ifndef AGENT_BASE_TIME_TIME_LOCK_H_
#define AGENT_BASE_TIME_TIME_LOCK_H_

#include <time.h>

namespace kelmbase {

class Lock;

namespace internal {

// The process-wide lock under which the C library's calendar functions
// (mktime, timegm, localtime_r, gmtime_r) run: their time-zone state is not
// safe to use from several threads at once. A leaf lock.
Lock& GetTimeLock();

// mktime (`is_local`) or timegm of `timestruct` under the time lock.
time_t MakeTimeLocked(struct tm* timestruct, bool is_local);

}  // namespace internal
}  // namespace kelmbase

#endif  // AGENT_BASE_TIME_TIME_LOCK_H_
