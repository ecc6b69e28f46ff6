#ifndef LOGGING_LOG_FLAGS_H_
#define LOGGING_LOG_FLAGS_H_

#include <cstdint>
#include <string>

#include "absl/flags/declare.h"

// The logging library's flags. Nothing in this program parses flags, so each
// keeps its default for the whole run; the defaults of the first three come
// from PLOVEX_LOGTOSTDERR, PLOVEX_ALSOLOGTOSTDERR and PLOVEX_STDERRTHRESHOLD.
ABSL_DECLARE_FLAG(bool, logtostderr);
ABSL_DECLARE_FLAG(bool, alsologtostderr);
ABSL_DECLARE_FLAG(int32_t, stderrthreshold);
ABSL_DECLARE_FLAG(int32_t, minloglevel);
ABSL_DECLARE_FLAG(int32_t, logbuflevel);
ABSL_DECLARE_FLAG(bool, threaded_logging);
ABSL_DECLARE_FLAG(std::string, log_backtrace_at);
ABSL_DECLARE_FLAG(bool, log_prefix);
ABSL_DECLARE_FLAG(int32_t, v);
ABSL_DECLARE_FLAG(std::string, vmodule);

namespace kelm_log {

// Reads a boolean default from the environment: unset is false, otherwise
// the value is true when it starts with one of "tTyY1".
bool BoolFromEnv(const char* name);

// The default of --stderrthreshold: 0 when either of the two stderr
// variables is true, else PLOVEX_STDERRTHRESHOLD parsed as a severity
// ("INFO".."FATAL", their "k" forms, or a number), else 2. An unparsable
// threshold is a fatal error.
int32_t StderrThresholdFromEnv();

// Current values, cheap enough for every record. VerboseLevel is --v
// alone; VLOG sites also honour --vmodule (vlog_is_on.h).
int32_t MinLogLevel();
int32_t VerboseLevel();
bool LogPrefixEnabled();

// Switches for fatal-error stack traces, set by the process framework's
// --symbolize_stacktrace and --dump_stack_frames_limit hooks. Any thread.
void SetSymbolizeStackTrace(bool symbolize);
bool SymbolizeStackTrace();
void SetStackTraceFrameLimit(int32_t frames);
int32_t StackTraceFrameLimit();

// Set once a stack trace has been written for a failure that is about to
// abort, so that a SIGABRT handler does not write a second one.
void SetStackTraceOnAbortSuppressed();
bool StackTraceOnAbortSuppressed();

}  // namespace kelm_log

namespace base {

// Whether records also go to log files; the --logtostderr hook stores its
// negation. Every record goes to standard error here, so nothing reads it.
void SetLogToFiles(bool log_to_files);
bool LogToFiles();

}  // namespace base

#endif  // LOGGING_LOG_FLAGS_H_
