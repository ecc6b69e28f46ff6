#ifndef AGENT_BASE_TRACE_EVENT_THREAD_INSTRUCTION_COUNT_H_
#define AGENT_BASE_TRACE_EVENT_THREAD_INSTRUCTION_COUNT_H_

#include <cstddef>
#include <cstdint>

namespace kelmbase {
namespace trace_event {

// Instructions retired by the calling thread, from a per-thread hardware
// counter (perf_event_open). The counter is opened on a thread's first
// request, and only when the process was started with the switch
// "enable-thread-instruction-count"; the descriptor is closed at thread
// exit. Each thread uses its own counter; no locks.
class ThreadInstructionCount {
 public:
  // Whether the calling thread has a counter (opens it on first use).
  static bool IsSupported();
  // The thread's count so far, or -1 without a counter.
  static int64_t Now();
};

// The calling thread's counter descriptor, opened on the first call:
// -2 without the switch, -1 when opening failed, otherwise the descriptor
// (which may be 0). Later calls return the same value without trying again.
int GetThreadInstructionCounterFd();

namespace internal {
// The attribute record given to perf_event_open: 112 bytes, all zero except
// the type (0, hardware), the size (112), the event (1, retired
// instructions) and the flags exclude_kernel and exclude_hv (0x60 in the
// flag word at offset 40).
inline constexpr size_t kPerfEventAttrRecordSize = 112;
struct PerfEventAttrRecord {
  alignas(8) unsigned char bytes[kPerfEventAttrRecordSize];
};
PerfEventAttrRecord MakeInstructionCounterAttrRecord();

// Replaces the system call that opens a counter (null restores it), so
// tests can hand out descriptors of their choice. Returns the descriptor or
// a negative value. Affects threads that have not asked yet.
using InstructionCounterOpener = int (*)();
void SetInstructionCounterOpenerForTesting(InstructionCounterOpener opener);
}  // namespace internal

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_THREAD_INSTRUCTION_COUNT_H_
