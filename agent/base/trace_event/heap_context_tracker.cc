#include "agent/base/trace_event/heap_context_tracker.h"

#include <atomic>

#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {
namespace trace_event {

namespace {

std::atomic<int> g_capture_mode{0};

// Marks a thread whose tracker is being made.
void* const kTrackerBeingMade = reinterpret_cast<void*>(intptr_t{-1});

ThreadLocalStorage::Slot& TrackerSlot() {
  static ThreadLocalStorage::Slot* const slot =
      new ThreadLocalStorage::Slot([](void* value) {
        if (value != kTrackerBeingMade)
          delete static_cast<HeapContextTracker*>(value);
      });
  return *slot;
}

}  // namespace

HeapContextCaptureMode GetHeapContextCaptureMode() {
  return static_cast<HeapContextCaptureMode>(
      g_capture_mode.load(std::memory_order_acquire));
}

void SetHeapContextCaptureMode(HeapContextCaptureMode mode) {
  g_capture_mode.store(static_cast<int>(mode), std::memory_order_release);
}

HeapContextTracker::HeapContextTracker() {
  pseudo_stack_.reserve(kMaxStackDepth);
  task_contexts_.reserve(kMaxTaskDepth);
  task_contexts_.push_back(kUntrackedTask);
}

HeapContextTracker::~HeapContextTracker() = default;

// static
HeapContextTracker* HeapContextTracker::ForCurrentThread() {
  void* value = TrackerSlot().Get();
  if (value == kTrackerBeingMade)
    return nullptr;
  if (value != nullptr)
    return static_cast<HeapContextTracker*>(value);
  TrackerSlot().Set(kTrackerBeingMade);
  auto* tracker = new HeapContextTracker();
  TrackerSlot().Set(tracker);
  return tracker;
}

// static
void HeapContextTracker::SetCurrentThreadName(const char* name) {
  if (name == nullptr ||
      GetHeapContextCaptureMode() == HeapContextCaptureMode::kDisabled) {
    return;
  }
  HeapContextTracker* tracker = ForCurrentThread();
  if (tracker != nullptr)
    tracker->thread_name_ = name;
}

void HeapContextTracker::PushPseudoStackFrame(const char* trace_event_name) {
  if (pseudo_stack_.size() < kMaxStackDepth)
    pseudo_stack_.push_back({FrameKind::kTraceEventName, trace_event_name});
}

void HeapContextTracker::PopPseudoStackFrame() {
  if (!pseudo_stack_.empty())
    pseudo_stack_.pop_back();
}

void HeapContextTracker::PushProgramCounterFrame(const void* program_counter) {
  if (pseudo_stack_.size() < kMaxStackDepth)
    pseudo_stack_.push_back({FrameKind::kProgramCounter, program_counter});
}

void HeapContextTracker::PopProgramCounterFrame() {
  PopPseudoStackFrame();
}

void HeapContextTracker::PushTaskContext(const char* context) {
  if (task_contexts_.size() < kMaxTaskDepth)
    task_contexts_.push_back(context);
}

void HeapContextTracker::PopTaskContext() {
  if (task_contexts_.size() > 1)
    task_contexts_.pop_back();
}

void HeapContextTracker::DecrementIgnoreCount() {
  if (ignore_count_ > 0)
    --ignore_count_;
}

ScopedHeapProfilerIgnore::ScopedHeapProfilerIgnore() {
  if (GetHeapContextCaptureMode() == HeapContextCaptureMode::kDisabled)
    return;
  tracker_ = HeapContextTracker::ForCurrentThread();
  if (tracker_ != nullptr)
    tracker_->IncrementIgnoreCount();
}

ScopedHeapProfilerIgnore::~ScopedHeapProfilerIgnore() {
  if (tracker_ != nullptr)
    tracker_->DecrementIgnoreCount();
}

}  // namespace trace_event
}  // namespace kelmbase
