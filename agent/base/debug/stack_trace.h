#ifndef AGENT_BASE_DEBUG_STACK_TRACE_H_
#define AGENT_BASE_DEBUG_STACK_TRACE_H_

#include <cstddef>

namespace kelmbase {
namespace debug {

// The return addresses of the calling thread, captured when constructed and
// printed to standard error one symbolized line per frame:
//   [prefix]#<frame> 0x<address, at least 12 hex digits> <symbol>\n
// where <symbol> is the demangled name of the function holding address - 1,
// "(<file>+0x<offset>)" when the object's file cannot be opened, or
// "<unknown>".
//
// Printing is meant for the moment before a crash: it allocates no heap
// memory, takes no lock and writes with plain write(2) calls, so it may run
// in a signal handler. Concurrent printers interleave their pieces. A
// StackTrace is a plain value: copy it, keep it, print it from any thread.
class StackTrace {
 public:
  static constexpr size_t kMaxFrames = 250;

  // Captures up to kMaxFrames frames; the first is the capturing code
  // itself.
  StackTrace();
  // Captures up to min(`count`, kMaxFrames) frames.
  explicit StackTrace(size_t count);
  // Holds a copy of the first min(`count`, kMaxFrames) of `trace`.
  StackTrace(const void* const* trace, size_t count);

  // The captured addresses; `*count` receives their number.
  const void* const* Addresses(size_t* count) const;

  // PrintWithPrefixToStderr(nullptr).
  void Print() const;
  // Prints every frame line, each preceded by `prefix` when it is not null.
  void PrintWithPrefixToStderr(const char* prefix) const;

 private:
  const void* trace_[kMaxFrames];
  size_t count_;
};

// Fills `trace` with up to `count` return addresses of the calling thread,
// innermost first, through backtrace(3). Returns how many.
size_t CollectStackFrames(const void** trace, size_t count);

// Writes `text` to descriptor 2 with write(2), retrying when interrupted;
// any other failure drops the rest of it.
void WriteToStderr(const char* text);

// Where frame lines go, one piece of text at a time.
class BacktraceOutputHandler {
 public:
  virtual void Write(const char* text) = 0;
  virtual ~BacktraceOutputHandler() = default;
};

// Writes each piece to standard error with WriteToStderr.
class PrintBacktraceOutputHandler : public BacktraceOutputHandler {
 public:
  void Write(const char* text) override;
};

// Hands the frame lines of `trace` to `handler`, piece by piece; what
// StackTrace printing does. Async-signal-safe.
void OutputBacktrace(const void* const* trace, size_t count,
                     const char* prefix, BacktraceOutputHandler* handler);

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_STACK_TRACE_H_
