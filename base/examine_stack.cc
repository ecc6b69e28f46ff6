#include "base/examine_stack.h"

#include <execinfo.h>

#include <atomic>
#include <cstring>

#include "absl/debugging/symbolize.h"
#include "absl/flags/flag.h"
#include "logging/log_flags.h"
#include "logging/log_message.h"

namespace base {
namespace {

// The flags are read through these copies so that the dumper, which may run
// in a signal handler, never touches the flag library.
std::atomic<bool> g_symbolize{true};
std::atomic<int32_t> g_frame_limit{128};

constexpr int kMaxFrames = 256;

void AppendHex(uintptr_t value, char* out, size_t* pos) {
  static const char kDigits[] = "0123456789abcdef";
  char tmp[2 * sizeof(value)];
  int n = 0;
  do {
    tmp[n++] = kDigits[value & 0xf];
    value >>= 4;
  } while (value != 0);
  out[(*pos)++] = '0';
  out[(*pos)++] = 'x';
  while (n > 0) out[(*pos)++] = tmp[--n];
}

}  // namespace

void DumpStackTraceToStderr(int skip_frames) {
  void* frames[kMaxFrames + 1];
  int limit = g_frame_limit.load(std::memory_order_relaxed);
  if (limit > kMaxFrames) limit = kMaxFrames;
  if (limit <= 0) return;
  const int first = skip_frames < 0 ? 1 : skip_frames + 1;
  int depth = backtrace(frames, kMaxFrames + 1);
  if (depth > first + limit) depth = first + limit;
  const bool symbolize = g_symbolize.load(std::memory_order_relaxed);
  for (int i = first; i < depth; ++i) {
    char line[512];
    size_t pos = 0;
    static const char kLead[] = "    @ ";
    memcpy(line, kLead, sizeof(kLead) - 1);
    pos += sizeof(kLead) - 1;
    AppendHex(reinterpret_cast<uintptr_t>(frames[i]), line, &pos);
    char symbol[384];
    // Return addresses point after the call; look up the call itself.
    if (symbolize && absl::Symbolize(static_cast<char*>(frames[i]) - 1,
                                     symbol, sizeof(symbol))) {
      line[pos++] = ' ';
      size_t len = strnlen(symbol, sizeof(symbol) - 1);
      if (len > sizeof(line) - pos - 1) len = sizeof(line) - pos - 1;
      memcpy(line + pos, symbol, len);
      pos += len;
    }
    line[pos++] = '\n';
    kelm_log::WriteToStderr(line, pos);
  }
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
