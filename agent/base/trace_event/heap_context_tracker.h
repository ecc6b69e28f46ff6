#ifndef AGENT_BASE_TRACE_EVENT_HEAP_CONTEXT_TRACKER_H_
#define AGENT_BASE_TRACE_EVENT_HEAP_CONTEXT_TRACKER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelmbase {
namespace trace_event {

// What heap-profiling context is captured, process-wide: 0 nothing (the
// program's setting), 1 trace-event names and task contexts, 2 the same
// plus program counters. Read with acquire loads.
enum class HeapContextCaptureMode : int {
  kDisabled = 0,
  kPseudoStack = 1,
  kNativeStack = 2,
};
HeapContextCaptureMode GetHeapContextCaptureMode();
void SetHeapContextCaptureMode(HeapContextCaptureMode mode);

// The calling thread's heap-profiling context: a pseudo stack of
// trace-event names and program counters (at most 128 frames) and a stack
// of task-context names (at most 16) whose bottom is always
// "UntrackedTask". Pushes beyond the limits are ignored; popping the last
// task context is ignored.
//
// One tracker per thread, made on first use and deleted at thread exit;
// only its own thread touches it.
class HeapContextTracker {
 public:
  static constexpr size_t kMaxStackDepth = 128;
  static constexpr size_t kMaxTaskDepth = 16;
  static constexpr const char kUntrackedTask[] = "UntrackedTask";

  enum class FrameKind : uint64_t {
    kTraceEventName = 0,
    kProgramCounter = 2,
  };
  struct Frame {
    FrameKind kind;
    const void* value;
  };

  HeapContextTracker(const HeapContextTracker&) = delete;
  HeapContextTracker& operator=(const HeapContextTracker&) = delete;
  ~HeapContextTracker();

  // The calling thread's tracker; null while one is being made on this
  // thread (the making itself may allocate and re-enter).
  static HeapContextTracker* ForCurrentThread();

  // Stores `name` in this thread's tracker when it is not null and capture
  // is on.
  static void SetCurrentThreadName(const char* name);

  void PushPseudoStackFrame(const char* trace_event_name);
  void PopPseudoStackFrame();
  void PushProgramCounterFrame(const void* program_counter);
  void PopProgramCounterFrame();
  void PushTaskContext(const char* context);
  void PopTaskContext();

  // Raised while the tracing code allocates its own buffers; never below 0.
  void IncrementIgnoreCount() { ++ignore_count_; }
  void DecrementIgnoreCount();
  int ignore_count() const { return ignore_count_; }

  const std::vector<Frame>& pseudo_stack() const { return pseudo_stack_; }
  const std::vector<const char*>& task_contexts() const {
    return task_contexts_;
  }
  const char* thread_name() const { return thread_name_; }

 private:
  HeapContextTracker();

  std::vector<Frame> pseudo_stack_;
  const char* thread_name_ = nullptr;
  std::vector<const char*> task_contexts_;
  int ignore_count_ = 0;
};

// For its scope, the calling thread's allocations are not attributed to a
// heap context (only when capture is on).
class ScopedHeapProfilerIgnore {
 public:
  ScopedHeapProfilerIgnore();
  ScopedHeapProfilerIgnore(const ScopedHeapProfilerIgnore&) = delete;
  ScopedHeapProfilerIgnore& operator=(const ScopedHeapProfilerIgnore&) =
      delete;
  ~ScopedHeapProfilerIgnore();

 private:
  HeapContextTracker* tracker_ = nullptr;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_HEAP_CONTEXT_TRACKER_H_
