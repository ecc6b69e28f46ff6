#ifndef INTERNAL_CERTIFICATE_QUELFIN_LOGGING_ADAPTER_H_
#define INTERNAL_CERTIFICATE_QUELFIN_LOGGING_ADAPTER_H_

// The older streaming log interface, written into our logging library:
//
//   logging::LogMessage(__FILE__, __LINE__, 1).stream() << "text";
//
// Severities: -1 and 0 INFO, 1 WARNING, 2 ERROR, 3 FATAL (ends the process
// when the record is written). Anything else is a fatal CHECK.
//
// Threads: any; one adapter belongs to the thread that made it.

#include <ostream>

#include "logging/log_message.h"

namespace logging {

class LogMessage {
 public:
  LogMessage(const char* file, int line, int severity);
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;
  // Writes the record.
  ~LogMessage();

  std::ostream& stream() { return message_.stream(); }

 private:
  kelm_log::LogMessage message_;
};

}  // namespace logging

#endif  // INTERNAL_CERTIFICATE_QUELFIN_LOGGING_ADAPTER_H_
