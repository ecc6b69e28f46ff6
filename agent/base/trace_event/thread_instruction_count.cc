#include "agent/base/trace_event/thread_instruction_count.h"

#include <linux/perf_event.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "agent/base/command_line.h"
#include "agent/base/threading/thread_local_storage.h"
#include "logging/check.h"
#include "logging/log.h"

namespace kelmbase {
namespace trace_event {

namespace {

constexpr char kEnableThreadInstructionCount[] =
    "enable-thread-instruction-count";

constexpr int kNoSwitch = -2;
constexpr int kOpenFailed = -1;

// The record's layout is the kernel's fifth attribute version; newer
// headers describe a longer record, of which the kernel then reads only the
// size given.
static_assert(internal::kPerfEventAttrRecordSize == PERF_ATTR_SIZE_VER5);
static_assert(sizeof(perf_event_attr) >= internal::kPerfEventAttrRecordSize);

int OpenPerfEventCounter() {
  const internal::PerfEventAttrRecord record =
      internal::MakeInstructionCounterAttrRecord();
  return static_cast<int>(
      syscall(__NR_perf_event_open, record.bytes, 0, -1, -1, 0));
}

std::atomic<internal::InstructionCounterOpener> g_opener{nullptr};

// The thread's outcome. Kept apart from the descriptor because every int,
// 0 included, is a possible descriptor: "not tried yet" is the absence of
// this record, never a descriptor value.
struct CounterState {
  int fd;
};

ThreadLocalStorage::Slot& CounterSlot() {
  static ThreadLocalStorage::Slot* const slot =
      new ThreadLocalStorage::Slot([](void* value) {
        auto* state = static_cast<CounterState*>(value);
        if (state->fd >= 0)
          close(state->fd);
        delete state;
      });
  return *slot;
}

int OpenCounterForThisThread() {
  const CommandLine* command_line = CommandLine::Current();
  if (command_line == nullptr ||
      !command_line->HasSwitch(kEnableThreadInstructionCount)) {
    return kNoSwitch;
  }
  internal::InstructionCounterOpener opener =
      g_opener.load(std::memory_order_acquire);
  const int fd = opener != nullptr ? opener() : OpenPerfEventCounter();
  if (fd < 0) {
    LOG(ERROR) << "perf_event_open failed, omitting instruction counters";
    return kOpenFailed;
  }
  return fd;
}

}  // namespace

int GetThreadInstructionCounterFd() {
  auto* state = static_cast<CounterState*>(CounterSlot().Get());
  if (state != nullptr)
    return state->fd;
  state = new CounterState{OpenCounterForThisThread()};
  CounterSlot().Set(state);
  return state->fd;
}

// static
bool ThreadInstructionCount::IsSupported() {
  return GetThreadInstructionCounterFd() >= 0;
}

// static
int64_t ThreadInstructionCount::Now() {
  const int fd = GetThreadInstructionCounterFd();
  if (fd < 0)
    return -1;
  uint64_t instructions = 0;
  const ssize_t size = read(fd, &instructions, sizeof(instructions));
  CHECK_EQ(size, static_cast<ssize_t>(sizeof(instructions)))
      << "Short reads of small size from kernel memory is not expected. If "
         "this fails, use HANDLE_EINTR.";
  return static_cast<int64_t>(instructions);
}

namespace internal {

PerfEventAttrRecord MakeInstructionCounterAttrRecord() {
  perf_event_attr attr;
  memset(&attr, 0, sizeof(attr));
  attr.type = PERF_TYPE_HARDWARE;
  attr.size = kPerfEventAttrRecordSize;
  attr.config = PERF_COUNT_HW_INSTRUCTIONS;
  attr.exclude_kernel = 1;
  attr.exclude_hv = 1;
  PerfEventAttrRecord record;
  memcpy(record.bytes, &attr, kPerfEventAttrRecordSize);
  return record;
}

void SetInstructionCounterOpenerForTesting(InstructionCounterOpener opener) {
  g_opener.store(opener, std::memory_order_release);
}
}  // namespace internal

}  // namespace trace_event
}  // namespace kelmbase
