#include "internal/certificate/quelfin_logging_adapter.h"

#include "logging/check.h"

namespace logging {

namespace {

kelm_log::LogSeverity ToSeverity(int severity) {
  CHECK(severity >= -1 && severity <= 3)
      << "Unexpected severity: " << severity;
  switch (severity) {
    case 1:
      return kelm_log::LogSeverity::kWarning;
    case 2:
      return kelm_log::LogSeverity::kError;
    case 3:
      return kelm_log::LogSeverity::kFatal;
    default:
      return kelm_log::LogSeverity::kInfo;
  }
}

}  // namespace

LogMessage::LogMessage(const char* file, int line, int severity)
    : message_(file, line, ToSeverity(severity)) {}

LogMessage::~LogMessage() = default;

}  // namespace logging
