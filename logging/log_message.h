#ifndef LOGGING_LOG_MESSAGE_H_
#define LOGGING_LOG_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "logging/log_severity.h"

namespace kelm_log {

// One log record. The text is collected through stream() and the record is
// written to standard error, as one write, when the object is destroyed:
//   <prefix><text>\n
// Records below --minloglevel are dropped. A FATAL record is followed by the
// stack trace and aborts the process; use LogMessageFatal (or
// LogMessageQuietlyFatal) for those so the compiler knows control does not
// come back.
class LogMessage {
 public:
  LogMessage(const char* file, int line, LogSeverity severity);
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;
  ~LogMessage();

  std::ostream& stream() { return stream_; }

  // Reports the record at another source position; the internal-log bridge
  // uses it to name the caller of the library that produced the message.
  LogMessage& AtLocation(const char* file, int line);

 protected:
  // Writes the record and, for FATAL, the stack trace, then aborts.
  void Flush();

  // Writes the record, FATAL or not, and returns. Only the first call of
  // this or Flush writes anything.
  void WriteRecord();

  // Starts the text with "Check failed: " and `failure`, to be set off by
  // one space from any text streamed after it.
  void StartCheckFailure(const std::string& failure);

  // Marks the end of the text written so far: if more text follows, a space
  // goes between the two when the record is written.
  void SeparateFollowingText();

 private:
  const char* file_;
  int line_;
  LogSeverity severity_;
  int64_t unix_micros_;
  bool flushed_ = false;
  // Where SeparateFollowingText put its mark; npos when it was not called.
  std::string::size_type separator_at_ = std::string::npos;
  std::ostringstream stream_;
};

// A FATAL record. Its destructor never returns.
class LogMessageFatal : public LogMessage {
 public:
  LogMessageFatal(const char* file, int line);
  // Starts the record with "Check failed: " and `failure`. Text streamed
  // after it is set off by one space; without any, the record ends with the
  // failure itself.
  LogMessageFatal(const char* file, int line, const std::string& failure);
  [[noreturn]] ~LogMessageFatal();
};

// A FATAL record for a failure that is the user's, not the program's: the
// record is written (and handed to the fatal-message saver) like any FATAL
// one, but no stack trace follows, and the process ends with _exit(1)
// instead of abort(), so no failure signal handler, at-exit callback or
// stdio flush runs. Its destructor never returns.
class LogMessageQuietlyFatal : public LogMessage {
 public:
  // Starts the record with "Check failed: " and `failure`, as
  // LogMessageFatal does.
  LogMessageQuietlyFatal(const char* file, int line,
                         const std::string& failure);
  [[noreturn]] ~LogMessageQuietlyFatal();
};

// Writes a fatal-error stack trace to standard error, one frame per line,
// leaving out `skip_frames` frames of the caller's. The default prints
// through kelmbase::debug::StackTrace; another dumper may be installed once
// at start-up. Must be async-signal-safe.
// The default dumper honours SymbolizeStackTrace() and
// StackTraceFrameLimit() (log_flags.h), read at the moment it prints.
using StackDumper = void (*)(int skip_frames);
void SetFatalStackDumper(StackDumper dumper);
void DumpFatalStackTrace(int skip_frames);

// Writes the first min(`count`, `frame_limit`) of `frames` to standard
// error, numbered from 0: through kelmbase::debug::StackTrace when
// `symbolize`, else as "#<n> 0x<address, at least 12 hex digits>" lines.
// Nothing when `frame_limit` <= 0. Async-signal-safe; errno is kept.
void WriteStackFrames(const void* const* frames, size_t count,
                      int32_t frame_limit, bool symbolize);

// Called with the whole text of a FATAL record (prefix, message, newline and
// NUL; `size` counts all of it) just before the record is written and the
// process ends. One may be installed, at start-up.
using FatalMessageSaver = void (*)(const char* record, size_t size);
void SetFatalMessageSaver(FatalMessageSaver saver);

// Writes `size` bytes to standard error with the write system call,
// retrying on EINTR and preserving errno. Async-signal-safe.
void WriteToStderr(const char* data, size_t size);

// Turns a stream expression into void so it can stand in a conditional.
struct LogMessageVoidify {
  void operator&(std::ostream&) {}
};

}  // namespace kelm_log

#endif  // LOGGING_LOG_MESSAGE_H_
