#include "logging/log_message.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "agent/base/debug/signal_safe_text.h"
#include "agent/base/debug/stack_trace.h"
#include "logging/log_flags.h"
#include "logging/log_prefix.h"

namespace kelm_log {
namespace {

int64_t NowUnixMicros() {
  struct timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Prints the stack through the program's one stack-trace printer (no heap,
// no lock, only write(2)), from the frame that called the dumper's caller
// on, less `skip_frames` more, under the fatal-trace switches.
void DefaultStackDumper(int skip_frames) {
  const void* frames[kelmbase::debug::StackTrace::kMaxFrames];
  const size_t count = kelmbase::debug::CollectStackFrames(
      frames, kelmbase::debug::StackTrace::kMaxFrames);
  // The collecting function's frame and this one's.
  size_t skip = 2 + static_cast<size_t>(skip_frames < 0 ? 0 : skip_frames);
  if (skip > count) skip = count;
  WriteStackFrames(frames + skip, count - skip, StackTraceFrameLimit(),
                   SymbolizeStackTrace());
}

std::atomic<StackDumper> g_stack_dumper{&DefaultStackDumper};
std::atomic<FatalMessageSaver> g_fatal_message_saver{nullptr};

}  // namespace

void SetFatalStackDumper(StackDumper dumper) {
  g_stack_dumper.store(dumper, std::memory_order_release);
}

void SetFatalMessageSaver(FatalMessageSaver saver) {
  g_fatal_message_saver.store(saver, std::memory_order_release);
}

void DumpFatalStackTrace(int skip_frames) {
  g_stack_dumper.load(std::memory_order_acquire)(skip_frames + 1);
}

void WriteStackFrames(const void* const* frames, size_t count,
                      int32_t frame_limit, bool symbolize) {
  if (frame_limit <= 0) return;
  if (count > static_cast<size_t>(frame_limit)) {
    count = static_cast<size_t>(frame_limit);
  }
  if (symbolize) {
    kelmbase::debug::StackTrace(frames, count).Print();
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    char number[30];
    kelmbase::debug::FormatInteger(i, number, sizeof(number), 10, 1);
    char address[17];
    kelmbase::debug::FormatInteger(reinterpret_cast<uintptr_t>(frames[i]),
                                   address, sizeof(address), 16, 12);
    char line[64] = "#";
    kelmbase::debug::AppendCString(line, sizeof(line), number);
    kelmbase::debug::AppendCString(line, sizeof(line), " 0x");
    kelmbase::debug::AppendCString(line, sizeof(line), address);
    kelmbase::debug::AppendCString(line, sizeof(line), "\n");
    WriteToStderr(line, strlen(line));
  }
}

void WriteToStderr(const char* data, size_t size) {
  int saved_errno = errno;
  while (size > 0) {
    ssize_t n = write(STDERR_FILENO, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  errno = saved_errno;
}

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : file_(file),
      line_(line),
      severity_(severity),
      unix_micros_(NowUnixMicros()) {}

LogMessage::~LogMessage() { Flush(); }

LogMessage& LogMessage::AtLocation(const char* file, int line) {
  file_ = file;
  line_ = line;
  return *this;
}

void LogMessage::Flush() {
  if (flushed_) return;
  WriteRecord();
  if (severity_ < LogSeverity::kFatal) return;
  static const char kTraceHeader[] = "*** Check failure stack trace: ***\n";
  WriteToStderr(kTraceHeader, sizeof(kTraceHeader) - 1);
  DumpFatalStackTrace(0);
  abort();
}

void LogMessage::WriteRecord() {
  if (flushed_) return;
  flushed_ = true;
  const bool fatal = severity_ >= LogSeverity::kFatal;
  if (fatal || static_cast<int>(severity_) >= MinLogLevel()) {
    std::string record;
    if (LogPrefixEnabled()) {
      char prefix[kMaxLogPrefixSize];
      char base[201];
      strncpy(base, BaseName(file_), sizeof(base) - 1);
      base[sizeof(base) - 1] = '\0';
      size_t n = FormatLogPrefix(
          severity_, unix_micros_ / 1000000,
          static_cast<int32_t>(unix_micros_ % 1000000), CurrentThreadId(),
          base, line_, prefix, sizeof(prefix));
      record.assign(prefix, n);
    }
    std::string text = stream_.str();
    if (separator_at_ < text.size()) text.insert(separator_at_, 1, ' ');
    record += text;
    record += '\n';
    if (fatal) {
      if (FatalMessageSaver saver =
              g_fatal_message_saver.load(std::memory_order_acquire)) {
        saver(record.c_str(), record.size() + 1);
      }
    }
    WriteToStderr(record.data(), record.size());
  }
}

void LogMessage::StartCheckFailure(const std::string& failure) {
  stream() << "Check failed: " << failure;
  SeparateFollowingText();
}

void LogMessage::SeparateFollowingText() {
  separator_at_ = static_cast<std::string::size_type>(stream_.tellp());
}

LogMessageFatal::LogMessageFatal(const char* file, int line)
    : LogMessage(file, line, LogSeverity::kFatal) {}

LogMessageFatal::LogMessageFatal(const char* file, int line,
                                 const std::string& failure)
    : LogMessage(file, line, LogSeverity::kFatal) {
  StartCheckFailure(failure);
}

LogMessageFatal::~LogMessageFatal() {
  Flush();
  abort();
}

LogMessageQuietlyFatal::LogMessageQuietlyFatal(const char* file, int line,
                                               const std::string& failure)
    : LogMessage(file, line, LogSeverity::kFatal) {
  StartCheckFailure(failure);
}

LogMessageQuietlyFatal::~LogMessageQuietlyFatal() {
  WriteRecord();
  _exit(1);
}

}  // namespace kelm_log
