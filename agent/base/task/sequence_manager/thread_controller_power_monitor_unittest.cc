#include "agent/base/task/sequence_manager/thread_controller_power_monitor.h"

#include <string>
#include <vector>

#include "agent/base/trace_event/perfetto_standin/protozero/proto_field_reader.h"
#include "agent/base/trace_event/test/typed_event_recorder.h"
#include "agent/base/trace_event/trace_event.h"
#include "agent/base/trace_event/trace_log.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {
namespace {

using trace_event::test::TypedEventRecorder;

constexpr uint32_t kTrackUuidField = 11;

class ThreadControllerPowerMonitorTest : public testing::Test {
 protected:
  void SetUp() override { ThreadControllerPowerMonitor::SetEnabled(true); }
  void TearDown() override { ThreadControllerPowerMonitor::SetEnabled(false); }

  // The track a recorded event names, or 0 when it names none.
  static uint64_t TrackOf(const TypedEventRecorder::Event& event) {
    const protozero::ProtoFieldReader reader(event.event);
    const protozero::ProtoFieldReader::Field* track =
        reader.Find(kTrackUuidField);
    return track != nullptr && track->is_varint ? track->varint : 0;
  }
};

TEST_F(ThreadControllerPowerMonitorTest,
       SuspensionIsATypedSliceOnTheMonitorsTrack) {
  ThreadControllerPowerMonitor monitor;
  ThreadControllerPowerMonitor other;
  EXPECT_NE(monitor.track_id(), other.track_id());
  std::vector<TypedEventRecorder::Event> events;
  std::vector<std::string> logged;
  {
    TypedEventRecorder recorder;
    monitor.OnSuspend();
    EXPECT_TRUE(monitor.IsProcessInPowerSuspendState());
    other.OnSuspend();
    monitor.OnResume();
    EXPECT_FALSE(monitor.IsProcessInPowerSuspendState());
    other.OnResume();
    events = recorder.events();
    trace_event::TraceLog::GetInstance()->Flush(
        [&logged](const trace_event::TraceEvent& event) {
          logged.push_back(event.name());
        });
  }

  ASSERT_EQ(events.size(), 4u);
  const struct {
    char phase;
    const ThreadControllerPowerMonitor* owner;
  } expected[] = {{'B', &monitor}, {'B', &other}, {'E', &monitor},
                  {'E', &other}};
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].phase, expected[i].phase);
    EXPECT_EQ(events[i].name, "ThreadController::Suspended");
    EXPECT_EQ(events[i].category, "base");
    EXPECT_EQ(TrackOf(events[i]), expected[i].owner->track_id());
  }
  for (const std::string& name : logged)
    EXPECT_NE(name, "ThreadController::Suspended")
        << "a typed slice, not an event in the trace buffer";
}

TEST_F(ThreadControllerPowerMonitorTest, NothingIsWrittenWithoutASuspension) {
  ThreadControllerPowerMonitor monitor;
  TypedEventRecorder recorder;
  monitor.OnResume();  // Not suspended: no end without a begin.
  EXPECT_FALSE(monitor.IsProcessInPowerSuspendState());

  ThreadControllerPowerMonitor::SetEnabled(false);
  monitor.OnSuspend();
  EXPECT_FALSE(monitor.IsProcessInPowerSuspendState());
  EXPECT_TRUE(recorder.events().empty());
}

TEST_F(ThreadControllerPowerMonitorTest, SuspendedStateDoesNotNeedTracing) {
  ThreadControllerPowerMonitor monitor;
  monitor.OnSuspend();
  EXPECT_TRUE(monitor.IsProcessInPowerSuspendState());
  monitor.OnResume();
  EXPECT_FALSE(monitor.IsProcessInPowerSuspendState());
}

}  // namespace
}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
