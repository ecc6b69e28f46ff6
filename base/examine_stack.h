#ifndef BASE_EXAMINE_STACK_H_
#define BASE_EXAMINE_STACK_H_

#include <cstdint>

#include "absl/flags/declare.h"

// Flags for the stack traces written when the process fails.
ABSL_DECLARE_FLAG(bool, dump_all_maps_on_failure);
ABSL_DECLARE_FLAG(bool, symbolize_stacktrace);
ABSL_DECLARE_FLAG(bool, skip_address_map);
ABSL_DECLARE_FLAG(int32_t, dump_stack_frames_limit);

namespace base {

// Writes the calling thread's stack to standard error through the program's
// stack-trace printer, one frame a line, starting with the caller's frame
// less `skip_frames`. At most --dump_stack_frames_limit frames; without
// --symbolize_stacktrace the lines carry addresses only. Both values are the
// ones their hooks cached. Only fixed buffers and write(2), errno kept: safe
// in a signal handler.
void DumpStackTraceToStderr(int skip_frames);

}  // namespace base

#endif  // BASE_EXAMINE_STACK_H_
