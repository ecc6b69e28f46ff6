#ifndef LOGGING_LOG_H_
#define LOGGING_LOG_H_

// Log records: LOG(INFO|WARNING|ERROR|FATAL) << ...; VLOG(n) << ...
// Every level goes to standard error. Records below --minloglevel are
// dropped; VLOG(n) records are INFO records written when n is at most the
// verbose level of the calling file: its --vmodule level if a pattern there
// matches it, else --v (vlog_is_on.h).

#include "logging/log_flags.h"
#include "logging/log_message.h"
#include "logging/vlog_is_on.h"

#define KELM_LOG_INFO \
  ::kelm_log::LogMessage(__FILE__, __LINE__, ::kelm_log::LogSeverity::kInfo)
#define KELM_LOG_WARNING \
  ::kelm_log::LogMessage(__FILE__, __LINE__, ::kelm_log::LogSeverity::kWarning)
#define KELM_LOG_ERROR \
  ::kelm_log::LogMessage(__FILE__, __LINE__, ::kelm_log::LogSeverity::kError)
#define KELM_LOG_FATAL ::kelm_log::LogMessageFatal(__FILE__, __LINE__)

#define KELM_LOG_LEVEL_INFO 0
#define KELM_LOG_LEVEL_WARNING 1
#define KELM_LOG_LEVEL_ERROR 2
#define KELM_LOG_LEVEL_FATAL 3

#define LOG_IS_ON(severity) \
  (KELM_LOG_LEVEL_##severity >= ::kelm_log::MinLogLevel() || \
   KELM_LOG_LEVEL_##severity >= KELM_LOG_LEVEL_FATAL)

#define LOG(severity)                              \
  !LOG_IS_ON(severity) ? (void)0                   \
                       : ::kelm_log::LogMessageVoidify() & \
                             KELM_LOG_##severity.stream()

#define LOG_IF(severity, condition)                              \
  !(LOG_IS_ON(severity) && (condition))                          \
      ? (void)0                                                  \
      : ::kelm_log::LogMessageVoidify() & KELM_LOG_##severity.stream()

#define VLOG_IS_ON(verbose_level) \
  (::kelm_log::VlogIsOn((verbose_level), __FILE__))

#define VLOG(verbose_level) LOG_IF(INFO, VLOG_IS_ON(verbose_level))

#endif  // LOGGING_LOG_H_
