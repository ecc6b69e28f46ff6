#include "logging/log_flags.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "absl/base/log_severity.h"
#include "absl/flags/flag.h"
#include "absl/strings/string_view.h"
#include "logging/log.h"
#include "logging/record_text.h"
#include "logging/vlog_is_on.h"

ABSL_FLAG(bool, logtostderr, kelm_log::BoolFromEnv("PLOVEX_LOGTOSTDERR"),
          "log messages go to stderr instead of log files")
    .OnUpdate([] { base::SetLogToFiles(!absl::GetFlag(FLAGS_logtostderr)); });
ABSL_FLAG(bool, alsologtostderr,
          kelm_log::BoolFromEnv("PLOVEX_ALSOLOGTOSTDERR"),
          "log messages go to stderr in addition to log files");
ABSL_FLAG(int32_t, stderrthreshold, kelm_log::StderrThresholdFromEnv(),
          "log messages at or above this level are copied to stderr in "
          "addition to log files");
ABSL_FLAG(int32_t, minloglevel, 0,
          "messages logged at a lower level than this are not written");
ABSL_FLAG(int32_t, logbuflevel, 0,
          "buffer log messages logged at this level or lower");
ABSL_FLAG(bool, threaded_logging, true,
          "write log messages from a dedicated logging thread");
ABSL_FLAG(std::string, log_backtrace_at, "",
          "emit a backtrace when logging at file:linenum");
ABSL_FLAG(bool, log_prefix, true,
          "prepend the log prefix to the start of each log line");
ABSL_FLAG(int32_t, v, 0,
          "show all VLOG(m) messages for m <= this; overridable by --vmodule")
    .OnUpdate(kelm_log::internal::UpdateVerbosity);
ABSL_FLAG(std::string, vmodule, "",
          "per-module verbose level: a comma-separated list of "
          "<module>=<level>, where <module> is a file base name pattern")
    .OnUpdate(kelm_log::internal::UpdateVerbosity);

namespace kelm_log {

bool BoolFromEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] == '\0') return false;
  return std::strchr("tTyY1", value[0]) != nullptr;
}

int32_t StderrThresholdFromEnv() {
  if (BoolFromEnv("PLOVEX_LOGTOSTDERR") ||
      BoolFromEnv("PLOVEX_ALSOLOGTOSTDERR")) {
    return 0;
  }
  const char* value = std::getenv("PLOVEX_STDERRTHRESHOLD");
  if (value == nullptr) return 2;
  absl::LogSeverity severity;
  std::string error;
  if (!absl::AbslParseFlag(value, &severity, &error)) {
    LOG(FATAL) << "Invalid PLOVEX_STDERRTHRESHOLD value '"
               << EscapeForRecord(value) << "': " << EscapeForRecord(error);
  }
  return static_cast<int32_t>(severity);
}

int32_t MinLogLevel() { return absl::GetFlag(FLAGS_minloglevel); }
int32_t VerboseLevel() { return absl::GetFlag(FLAGS_v); }
bool LogPrefixEnabled() { return absl::GetFlag(FLAGS_log_prefix); }

namespace {

std::atomic<bool> g_symbolize_stack_trace{true};
std::atomic<int32_t> g_stack_trace_frame_limit{128};
std::atomic<bool> g_stack_trace_on_abort_suppressed{false};

}  // namespace

void SetSymbolizeStackTrace(bool symbolize) {
  g_symbolize_stack_trace.store(symbolize, std::memory_order_relaxed);
}
bool SymbolizeStackTrace() {
  return g_symbolize_stack_trace.load(std::memory_order_relaxed);
}
void SetStackTraceFrameLimit(int32_t frames) {
  g_stack_trace_frame_limit.store(frames, std::memory_order_relaxed);
}
int32_t StackTraceFrameLimit() {
  return g_stack_trace_frame_limit.load(std::memory_order_relaxed);
}

void SetStackTraceOnAbortSuppressed() {
  g_stack_trace_on_abort_suppressed.store(true, std::memory_order_relaxed);
}
bool StackTraceOnAbortSuppressed() {
  return g_stack_trace_on_abort_suppressed.load(std::memory_order_relaxed);
}

namespace {

// Evaluates the environment-derived defaults during start-up, so a bad
// PLOVEX_STDERRTHRESHOLD stops the process before main instead of at the
// first record that happens to consult it.
[[maybe_unused]] const bool kDefaultsEvaluated = [] {
  (void)absl::GetFlag(FLAGS_stderrthreshold);
  return true;
}();

}  // namespace
}  // namespace kelm_log

namespace base {
namespace {
std::atomic<bool> g_log_to_files{false};
}  // namespace

void SetLogToFiles(bool log_to_files) {
  g_log_to_files.store(log_to_files, std::memory_order_relaxed);
}
bool LogToFiles() { return g_log_to_files.load(std::memory_order_relaxed); }

}  // namespace base
