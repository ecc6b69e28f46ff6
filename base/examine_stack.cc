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

}  // namespace

void DumpStackTraceToStderr(int skip_frames) {
  const void* frames[StackTrace::kMaxFrames];
  const size_t count = kelmbase::debug::CollectStackFrames(
      frames, StackTrace::kMaxFrames);
  // The collector's frame and this one's, then what the caller asks.
  size_t first = 2 + static_cast<size_t>(skip_frames < 0 ? 0 : skip_frames);
  if (first > count) first = count;
  kelm_log::WriteStackFrames(frames + first, count - first,
                             g_frame_limit.load(std::memory_order_relaxed),
                             g_symbolize.load(std::memory_order_relaxed));
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
