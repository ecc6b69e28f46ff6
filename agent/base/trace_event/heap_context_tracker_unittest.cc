#include "agent/base/trace_event/heap_context_tracker.h"

#include <thread>

#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/heap_profiler_event_filter.h"
#include "agent/base/trace_event/trace_event.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace trace_event {
namespace {

TEST(HeapContextTrackerTest, StacksKeepTheirLimits) {
  std::thread thread([] {
    HeapContextTracker* tracker = HeapContextTracker::ForCurrentThread();
    ASSERT_NE(tracker, nullptr);
    EXPECT_EQ(HeapContextTracker::ForCurrentThread(), tracker);

    static const char* const kFrames[] = {"a", "b"};
    for (size_t i = 0; i < HeapContextTracker::kMaxStackDepth; ++i)
      tracker->PushPseudoStackFrame(kFrames[i % 2]);
    tracker->PushProgramCounterFrame(&kFrames);  // The 129th: ignored.
    ASSERT_EQ(tracker->pseudo_stack().size(),
              HeapContextTracker::kMaxStackDepth);
    EXPECT_EQ(tracker->pseudo_stack().back().kind,
              HeapContextTracker::FrameKind::kTraceEventName);
    tracker->PopProgramCounterFrame();  // Pops whatever is on top.
    EXPECT_EQ(tracker->pseudo_stack().size(),
              HeapContextTracker::kMaxStackDepth - 1);

    ASSERT_EQ(tracker->task_contexts().size(), 1u);
    EXPECT_STREQ(tracker->task_contexts()[0], "UntrackedTask");
    tracker->PopTaskContext();
    EXPECT_EQ(tracker->task_contexts().size(), 1u)
        << "the bottom context stays";
    for (size_t i = 0; i < 20; ++i)
      tracker->PushTaskContext("task");
    EXPECT_EQ(tracker->task_contexts().size(),
              HeapContextTracker::kMaxTaskDepth);

    tracker->DecrementIgnoreCount();
    EXPECT_EQ(tracker->ignore_count(), 0) << "never below 0";
  });
  thread.join();
}

TEST(HeapContextTrackerTest, CaptureModeGatesNamesIgnoresAndTheFilter) {
  std::thread thread([] {
    HeapContextTracker* tracker = HeapContextTracker::ForCurrentThread();
    const HeapProfilerEventFilter filter;
    const TraceCategory* base =
        CategoryRegistry::Builtin(CategoryRegistry::kBase);
    auto event = [base](char phase, uint32_t flags) {
      return TraceEvent(1, MonotonicTime(), ThreadCpuTime(), -1, phase, base,
                        "frame", nullptr, 0, 0, nullptr, flags);
    };

    // Off: nothing is captured.
    HeapContextTracker::SetCurrentThreadName("worker");
    EXPECT_EQ(tracker->thread_name(), nullptr);
    {
      ScopedHeapProfilerIgnore ignore;
      EXPECT_EQ(tracker->ignore_count(), 0);
    }
    EXPECT_TRUE(filter.AcceptEvent(event('B', 0)));
    EXPECT_TRUE(tracker->pseudo_stack().empty());

    SetHeapContextCaptureMode(HeapContextCaptureMode::kPseudoStack);
    HeapContextTracker::SetCurrentThreadName("worker");
    EXPECT_STREQ(tracker->thread_name(), "worker");
    {
      ScopedHeapProfilerIgnore ignore;
      EXPECT_EQ(tracker->ignore_count(), 1);
    }
    EXPECT_EQ(tracker->ignore_count(), 0);

    struct Case {
      char phase;
      uint32_t flags;
      size_t depth_after;
    };
    const Case kCases[] = {
        {'B', 0, 1},          // pushes
        {'X', 0, 2},          // pushes
        {'I', 0, 2},          // other phases do nothing
        {'B', kFlagCopy, 2},  // copied names are skipped
        {'E', 0, 1},          // pops
    };
    for (const Case& c : kCases) {
      EXPECT_TRUE(filter.AcceptEvent(event(c.phase, c.flags)));
      EXPECT_EQ(tracker->pseudo_stack().size(), c.depth_after) << c.phase;
    }
    filter.EndEvent("base", "frame");
    EXPECT_TRUE(tracker->pseudo_stack().empty());
    SetHeapContextCaptureMode(HeapContextCaptureMode::kDisabled);
  });
  thread.join();
}

}  // namespace
}  // namespace trace_event
}  // namespace kelmbase
