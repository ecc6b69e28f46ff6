#include "base/examine_stack.h"

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "agent/base/debug/stack_trace.h"
#include "absl/flags/flag.h"
#include "logging/log_flags.h"
#include "logging/log_message.h"

namespace base {
namespace {

// The flags are read through these copies so that the dumper, which may run
// in a signal handler, never touches the flag library.
std::atomic<bool> g_symbolize{true};
std::atomic<int32_t> g_frame_limit{128};

using kelmbase::debug::StackTrace;

// "#<n> 0x<address, 12 digits or more>" without a symbol.
void WriteUnsymbolizedFrame(size_t index, uintptr_t address) {
  char line[64];
  size_t pos = 0;
  line[pos++] = '#';
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + index % 10);
    index /= 10;
  } while (index != 0);
  while (n > 0) line[pos++] = digits[--n];
  line[pos++] = ' ';
  line[pos++] = '0';
  line[pos++] = 'x';
  static const char kHex[] = "0123456789abcdef";
  n = 0;
  do {
    digits[n++] = kHex[address & 0xf];
    address >>= 4;
  } while (address != 0 || n < 12);
  while (n > 0) line[pos++] = digits[--n];
  line[pos++] = '\n';
  kelm_log::WriteToStderr(line, pos);
}

}  // namespace

void DumpStackTraceToStderr(int skip_frames) {
  const void* frames[StackTrace::kMaxFrames];
  const size_t count = kelmbase::debug::CollectStackFrames(
      frames, StackTrace::kMaxFrames);
  // The collector's frame and this one's, then what the caller asks.
  size_t first = 2 + static_cast<size_t>(skip_frames < 0 ? 0 : skip_frames);
  if (first > count) first = count;
  const int32_t limit = g_frame_limit.load(std::memory_order_relaxed);
  size_t shown = count - first;
  if (limit <= 0) return;
  if (shown > static_cast<size_t>(limit)) shown = static_cast<size_t>(limit);
  if (g_symbolize.load(std::memory_order_relaxed)) {
    StackTrace(frames + first, shown).Print();
    return;
  }
  const int saved_errno = errno;
  for (size_t i = 0; i < shown; ++i) {
    WriteUnsymbolizedFrame(i, reinterpret_cast<uintptr_t>(frames[first + i]));
  }
  errno = saved_errno;
}

}  // namespace base

ABSL_FLAG(bool, dump_all_maps_on_failure, false,
          "write every memory mapping of the process when it fails");
ABSL_FLAG(bool, symbolize_stacktrace, true,
          "name the functions in stack traces written on failure")
    .OnUpdate([] {
      const bool value = absl::GetFlag(FLAGS_symbolize_stacktrace);
      base::g_symbolize.store(value, std::memory_order_relaxed);
      kelm_log::SetSymbolizeStackTrace(value);
    });
ABSL_FLAG(bool, skip_address_map, false,
          "leave the address map out of failure reports");
ABSL_FLAG(int32_t, dump_stack_frames_limit, 128,
          "most frames written per stack trace on failure")
    .OnUpdate([] {
      const int32_t value = absl::GetFlag(FLAGS_dump_stack_frames_limit);
      base::g_frame_limit.store(value, std::memory_order_relaxed);
      kelm_log::SetStackTraceFrameLimit(value);
    });
