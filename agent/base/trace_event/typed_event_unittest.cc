#include "agent/base/trace_event/typed_event.h"

#include <vector>

#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_event.h"
#include "agent/base/trace_event/trace_log.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace trace_event {
namespace {

struct SeenEvent {
  char phase;
  uint32_t flags;
  bool has_thread_time;
  int64_t timestamp;
};
std::vector<SeenEvent>* g_seen = nullptr;

TypedEventHandle RememberEvent(TraceEvent* event) {
  g_seen->push_back(SeenEvent{event->phase(), event->flags(),
                              !event->thread_timestamp().is_null(),
                              event->timestamp().ToInternalValue()});
  return TypedEventHandle();
}

// Each test starts from the log as it was made and without a typed-event
// hook, whatever an earlier test in this process left.
class TypedEventTest : public testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }

  static void Reset() {
    TraceLog::GetInstance()->ResetForTesting();
    SetTypedEventHook(nullptr);
  }
};

TEST_F(TypedEventTest, NothingWithoutAHookOrWithTheCategoryOff) {
  TraceCategory* base = CategoryRegistry::Builtin(CategoryRegistry::kBase);
  EXPECT_FALSE(BeginTypedEvent('B', base, "x", MonotonicTime(), false));
  EXPECT_FALSE(NewTracePacket());

  std::vector<SeenEvent> seen;
  g_seen = &seen;
  SetTypedEventHook(&RememberEvent);
  BeginTypedEvent('B', base, "x", MonotonicTime(), false);  // "base" is off.
  SetTypedEventHook(nullptr);
  g_seen = nullptr;
  EXPECT_TRUE(seen.empty());
}

TEST_F(TypedEventTest, FlagsFollowTheTimestampAndTheTrack) {
  std::vector<SeenEvent> seen;
  g_seen = &seen;
  SetTypedEventHook(&RememberEvent);
  TraceLog::GetInstance()->SetEnabled(TraceRecordingConfig(),
                                      TraceLog::kRecordingMode);
  TraceCategory* base = CategoryRegistry::Builtin(CategoryRegistry::kBase);
  BeginTypedEvent('B', base, "now", MonotonicTime(), false);
  BeginTypedEvent('B', base, "explicit time",
                  MonotonicTime::FromInternalValue(77), false);
  BeginTypedEvent('I', base, "instant", MonotonicTime(), false);
  BeginTypedEvent('I', base, "instant on a track", MonotonicTime(), true);
  TraceLog::GetInstance()->SetDisabled(TraceLog::kRecordingMode);
  SetTypedEventHook(nullptr);
  g_seen = nullptr;

  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].flags, 0u);
  EXPECT_TRUE(seen[0].has_thread_time);
  EXPECT_EQ(seen[1].flags, kFlagExplicitTimestamp);
  EXPECT_EQ(seen[1].timestamp, 77);
  EXPECT_FALSE(seen[1].has_thread_time);
  EXPECT_EQ(seen[2].flags, kFlagInstantWithoutTrack);
  EXPECT_EQ(seen[3].flags, 0u);
  EXPECT_FALSE(seen[3].has_thread_time) << "no thread time on a track";
}

class CountingListener : public TracePacketHandle::CompletionListener,
                         public TypedEventHandle::CompletionListener {
 public:
  void OnTracePacketCompleted() override { ++packets; }
  void OnTypedEventCompleted() override { ++events; }
  int packets = 0;
  int events = 0;
};

TEST_F(TypedEventTest, HandlesCompleteOnceWhenDestroyed) {
  CountingListener listener;
  protozero::Message packet;
  {
    TracePacketHandle handle(&packet, &listener);
    TracePacketHandle moved = std::move(handle);
    EXPECT_FALSE(handle);
    EXPECT_EQ(listener.packets, 0);
  }
  EXPECT_EQ(listener.packets, 1);
  EXPECT_TRUE(packet.is_finalized()) << "the packet is finalised after";

  protozero::Message event;
  {
    TypedEventHandle handle(&event, nullptr, &listener);
    TypedEventHandle moved = std::move(handle);
  }
  EXPECT_EQ(listener.events, 1);
}

TEST_F(TypedEventTest, MarkTrackSeenOnce) {
  perfetto::internal::TrackEventIncrementalState state;
  EXPECT_TRUE(MarkTrackSeen(9, &state));
  EXPECT_TRUE(MarkTrackSeen(3, &state));
  EXPECT_FALSE(MarkTrackSeen(9, &state));
  EXPECT_EQ(state.seen_tracks, (std::vector<uint64_t>{3, 9}));
}

}  // namespace
}  // namespace trace_event
}  // namespace kelmbase
