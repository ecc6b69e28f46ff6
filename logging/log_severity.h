#ifndef LOGGING_LOG_SEVERITY_H_
#define LOGGING_LOG_SEVERITY_H_

#include "absl/base/log_severity.h"

namespace kelm_log {

// The four record levels, numbered 0-3 as in every log configuration value.
using LogSeverity = absl::LogSeverity;

// The letter that opens a record of `severity`: I, W, E or F. Levels outside
// 0-3 print as E (above) or I (below), matching how they are filtered.
char SeverityLetter(LogSeverity severity);

}  // namespace kelm_log

#endif  // LOGGING_LOG_SEVERITY_H_
