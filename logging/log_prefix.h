#ifndef LOGGING_LOG_PREFIX_H_
#define LOGGING_LOG_PREFIX_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "logging/log_severity.h"

namespace kelm_log {

// Longest prefix FormatLogPrefix can write, including its terminating NUL,
// for a file base name of up to 200 bytes.
inline constexpr size_t kMaxLogPrefixSize = 320;

// Writes the record prefix
//   <letter>0000 00:00:<unix seconds>.<6-digit micros> <tid, width 7> <base>:<line>] 
// into `buf` (NUL-terminated) and returns its length without the NUL, or 0
// when `size` is too small. No time zone is ever loaded, so the calendar part
// is fixed at "0000 00:00:". Async-signal-safe: no allocation, no locks.
size_t FormatLogPrefix(LogSeverity severity, int64_t unix_seconds,
                       int32_t microseconds, pid_t tid, const char* base_name,
                       int line, char* buf, size_t size);

// The part of `path` after its last '/' or '\'.
const char* BaseName(const char* path);

// The kernel thread id of the calling thread. Async-signal-safe.
pid_t CurrentThreadId();

}  // namespace kelm_log

#endif  // LOGGING_LOG_PREFIX_H_
