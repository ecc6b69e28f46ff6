#ifndef BASE_LOGGING_H_
#define BASE_LOGGING_H_

#include <string>

#include "absl/base/log_severity.h"

namespace base {

// The logging library's internal-log function: turns the library's own
// diagnostics into ordinary records at the caller's file and line. Severities
// below INFO become INFO, above FATAL become ERROR.
void ForwardAbslInternalLog(absl::LogSeverity severity, const char* file,
                            int line, const std::string& message);

// Registers RawLogFilterAndPrefix and RawLogAbort with the raw-logging
// library. Runs once per process (a static initialiser calls it); later calls
// do nothing.
void InstallRawLogHooks();

// Decides whether a raw (signal-safe) message is written and writes the
// standard record prefix plus "RAW: " into the caller's buffer, advancing
// `*buf` and shrinking `*size`. Drops messages below --minloglevel.
bool RawLogFilterAndPrefix(absl::LogSeverity severity, const char* file,
                           int line, char** buf, int* size);

// Dumps the stack to standard error and aborts.
[[noreturn]] void RawLogAbort(const char* file, int line, const char* buf_start,
                              const char* prefix_end, const char* buf_end);

}  // namespace base

#endif  // BASE_LOGGING_H_
