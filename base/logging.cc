#include "base/logging.h"

#include <time.h>

#include <cstdlib>
#include <cstring>

#include "absl/base/call_once.h"
#include "absl/base/internal/raw_logging.h"
#include "base/examine_stack.h"
#include "logging/log.h"
#include "logging/log_prefix.h"

namespace base {

void ForwardAbslInternalLog(absl::LogSeverity severity, const char* file,
                            int line, const std::string& message) {
  int level = static_cast<int>(severity);
  if (level < 0) level = 0;
  if (level > 3) level = 2;
  const char* caller_file = file != nullptr ? file : "";
  if (level == 3) {
    kelm_log::LogMessageFatal record(__FILE__, __LINE__);
    record.AtLocation(caller_file, line).stream() << message;
  }
  kelm_log::LogMessage record(__FILE__, __LINE__,
                              static_cast<absl::LogSeverity>(level));
  record.AtLocation(caller_file, line).stream() << message;
}

bool RawLogFilterAndPrefix(absl::LogSeverity severity, const char* file,
                           int line, char** buf, int* size) {
  if (static_cast<int>(severity) < kelm_log::MinLogLevel()) return false;
  struct timespec ts = {0, 0};
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) ts = {0, 0};
  char prefix[kelm_log::kMaxLogPrefixSize];
  size_t n = kelm_log::FormatLogPrefix(
      severity, ts.tv_sec, static_cast<int32_t>(ts.tv_nsec / 1000),
      kelm_log::CurrentThreadId(), kelm_log::BaseName(file), line, prefix,
      sizeof(prefix));
  static const char kRaw[] = "RAW: ";
  if (n + sizeof(kRaw) - 1 < sizeof(prefix)) {
    memcpy(prefix + n, kRaw, sizeof(kRaw));
    n += sizeof(kRaw) - 1;
  }
  // A prefix longer than the room left is cut short, keeping one byte for
  // the NUL that the caller's later writes and its final strlen rely on.
  if (*size <= 0) return true;
  size_t room = static_cast<size_t>(*size) - 1;
  if (n > room) n = room;
  memcpy(*buf, prefix, n);
  (*buf)[n] = '\0';
  *buf += n;
  *size -= static_cast<int>(n);
  return true;
}

void RawLogAbort(const char*, int, const char*, const char*, const char*) {
  DumpStackTraceToStderr(1);
  kelm_log::SetStackTraceOnAbortSuppressed();
  abort();
}

void InstallRawLogHooks() {
  static absl::once_flag once;
  absl::call_once(once, [] {
    absl::raw_logging_internal::RegisterLogFilterAndPrefixHook(
        &RawLogFilterAndPrefix);
    absl::raw_logging_internal::RegisterAbortHook(&RawLogAbort);
    absl::raw_logging_internal::RegisterInternalLogFunction(
        &ForwardAbslInternalLog);
  });
}

namespace {

// Hooks go in before main so that every raw message of the process, also
// those from start-up, carries the standard prefix.
[[maybe_unused]] const bool kRawLogHooksInstalled = [] {
  InstallRawLogHooks();
  return true;
}();

}  // namespace
}  // namespace base
