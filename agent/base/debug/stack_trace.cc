#include "agent/base/debug/stack_trace.h"

#include <errno.h>
#include <execinfo.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "agent/base/debug/signal_safe_text.h"
#include "agent/base/debug/symbolize.h"

namespace kelmbase {
namespace debug {

StackTrace::StackTrace() : StackTrace(kMaxFrames) {}

StackTrace::StackTrace(size_t count) {
  count_ = CollectStackFrames(trace_, count < kMaxFrames ? count : kMaxFrames);
}

StackTrace::StackTrace(const void* const* trace, size_t count) {
  count_ = count < kMaxFrames ? count : kMaxFrames;
  if (count_ > 0) memcpy(trace_, trace, count_ * sizeof(trace_[0]));
}

const void* const* StackTrace::Addresses(size_t* count) const {
  *count = count_;
  return trace_;
}

void StackTrace::Print() const { PrintWithPrefixToStderr(nullptr); }

void StackTrace::PrintWithPrefixToStderr(const char* prefix) const {
  PrintBacktraceOutputHandler handler;
  OutputBacktrace(trace_, count_, prefix, &handler);
}

size_t CollectStackFrames(const void** trace, size_t count) {
  const int limit = count > static_cast<size_t>(INT32_MAX)
                        ? INT32_MAX
                        : static_cast<int>(count);
  const int frames = backtrace(const_cast<void**>(trace), limit);
  return frames < 0 ? 0 : static_cast<size_t>(frames);
}

void WriteToStderr(const char* text) {
  size_t length = strlen(text);
  while (length > 0) {
    const ssize_t n = write(STDERR_FILENO, text, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text += n;
    length -= static_cast<size_t>(n);
  }
}

void PrintBacktraceOutputHandler::Write(const char* text) {
  WriteToStderr(text);
}

void OutputBacktrace(const void* const* trace, size_t count,
                     const char* prefix, BacktraceOutputHandler* handler) {
  const int saved_errno = errno;
  for (size_t i = 0; i < count; ++i) {
    if (prefix != nullptr) handler->Write(prefix);
    char number[30];
    FormatInteger(i, number, sizeof(number), 10, 1);
    handler->Write("#");
    handler->Write(number);
    handler->Write(" ");
    const uint64_t address = reinterpret_cast<uintptr_t>(trace[i]);
    char hex[17];
    FormatInteger(address, hex, sizeof(hex), 16, 12);
    handler->Write("0x");
    handler->Write(hex);
    handler->Write(" ");
    // A return address points after the call; the call itself is one byte
    // earlier.
    char symbol[1024];
    memset(symbol, 0, sizeof(symbol));
    if (SymbolizePc(address - 1, symbol, sizeof(symbol))) {
      handler->Write(symbol);
    } else {
      handler->Write("<unknown>");
    }
    handler->Write("\n");
  }
  errno = saved_errno;
}

}  // namespace debug
}  // namespace kelmbase
