#include "agent/base/threading/scoped_blocking_call.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/base/command_line.h"
#include "agent/base/debug/activity_tracker.h"
#include "agent/base/debug/activity_user_data.h"
#include "agent/base/metrics/persistent_memory_allocator.h"
#include "agent/base/task/task_executor.h"
#include "agent/base/threading/platform_thread.h"
#include "agent/base/threading/thread_restrictions.h"
#include "agent/base/time/time.h"
#include "agent/base/trace_event/perfetto_standin/protozero/proto_field_reader.h"
#include "agent/base/trace_event/test/typed_event_recorder.h"
#include "agent/base/trace_event/trace_log.h"

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(ScopedBlockingCallTest, ErrnoOfTheBlockingCallSurvivesTheScope) {
  errno = 0;
  {
    ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
    EXPECT_EQ(-1, open("/nonexistent-dir-for-blocking-test/x", O_RDONLY));
  }
  EXPECT_EQ(ENOENT, errno);
  {
    ScopedBlockingCallWithBaseSyncPrimitives scope(FROM_HERE,
                                                   BlockingType::kWillBlock);
    errno = EAGAIN;
  }
  EXPECT_EQ(EAGAIN, errno);
}

TEST(ScopedBlockingCallTest, ScopesNestAndRestoreTheirPredecessor) {
  EXPECT_EQ(nullptr, internal::BlockingScopeBase::GetCurrentScope());
  {
    ScopedBlockingCall outer(FROM_HERE, BlockingType::kMayBlock);
    EXPECT_EQ(&outer, internal::BlockingScopeBase::GetCurrentScope());
    EXPECT_FALSE(outer.is_will_block());
    {
      ScopedBlockingCallWithBaseSyncPrimitives inner(FROM_HERE,
                                                     BlockingType::kWillBlock);
      EXPECT_EQ(&inner, internal::BlockingScopeBase::GetCurrentScope());
      EXPECT_EQ(&outer, inner.previous_scope());
      EXPECT_TRUE(inner.is_will_block());
      {
        // Inherits will-block from its predecessor.
        ScopedBlockingCall innermost(FROM_HERE, BlockingType::kMayBlock);
        EXPECT_TRUE(innermost.is_will_block());
      }
    }
    EXPECT_EQ(&outer, internal::BlockingScopeBase::GetCurrentScope());
  }
  EXPECT_EQ(nullptr, internal::BlockingScopeBase::GetCurrentScope());
}

class RecordingObserver : public internal::BlockingCallObserver {
 public:
  void BlockingStarted(BlockingType blocking_type) override {
    events.push_back(blocking_type == BlockingType::kMayBlock ? "started-may"
                                                              : "started-will");
  }
  void BlockingTypeUpgraded() override { events.push_back("upgraded"); }
  void BlockingEnded() override { events.push_back("ended"); }

  std::vector<std::string> events;
};

TEST(ScopedBlockingCallTest, ObserverSeesOutermostScopeAndOneUpgrade) {
  RecordingObserver observer;
  internal::SetBlockingCallObserverForCurrentThread(&observer);
  {
    ScopedBlockingCall outer(FROM_HERE, BlockingType::kMayBlock);
    { ScopedBlockingCall inner(FROM_HERE, BlockingType::kMayBlock); }
    {
      ScopedBlockingCall upgrade(FROM_HERE, BlockingType::kWillBlock);
      // Already will-block: no second upgrade.
      ScopedBlockingCall nested(FROM_HERE, BlockingType::kWillBlock);
    }
  }
  { ScopedBlockingCall will(FROM_HERE, BlockingType::kWillBlock); }
  internal::SetBlockingCallObserverForCurrentThread(nullptr);
  EXPECT_EQ((std::vector<std::string>{"started-may", "upgraded", "ended",
                                      "started-will", "ended"}),
            observer.events);
}

// ---- Activity tracking ----

// Installs a global activity tracker with two records per thread for each
// test and removes it afterwards: every other test of this program runs
// without one.
class BlockingScopeActivityTest : public testing::Test {
 protected:
  static constexpr size_t kMemorySize = 64 * 1024;

  struct StoredValue {
    uint8_t type;
    size_t size;
    uint64_t bits;  // The first 8 bytes of the value.
  };

  void SetUp() override {
    ASSERT_EQ(debug::GlobalActivityTracker::Get(), nullptr);
    memory_ = std::make_unique<uint64_t[]>(kMemorySize / 8);
    PersistentMemoryAllocator::FormatSegment(memory_.get(), kMemorySize, 0, 1);
    debug::GlobalActivityTracker::CreateWithAllocator(
        std::make_unique<PersistentMemoryAllocator>(memory_.get(), kMemorySize,
                                                    0, false),
        /*stack_depth=*/2, /*process_id=*/0);
  }
  void TearDown() override {
    debug::GlobalActivityTracker::ReleaseForTesting();
  }

  static debug::ThreadActivityTracker* Tracker() {
    return debug::GlobalActivityTracker::Get()->GetTrackerForCurrentThread();
  }

  // What a reader of the user-data block of this thread's record `index`
  // finds there.
  static std::map<std::string, StoredValue> UserDataOfRecord(uint32_t index) {
    std::map<std::string, StoredValue> found;
    const uint32_t ref = Tracker()->record(index)->user_data_ref;
    if (ref == 0) return found;
    void* block = debug::GlobalActivityTracker::Get()->allocator()->GetAsObject(
        ref, debug::GlobalActivityTracker::kTypeIdUserData,
        debug::GlobalActivityTracker::kUserDataSize);
    if (block == nullptr) return found;
    debug::ActivityUserData reader(block,
                                   debug::GlobalActivityTracker::kUserDataSize);
    for (const auto& [name, info] : reader.values()) {
      StoredValue value{info.type, info.size->load(), 0};
      memcpy(&value.bits, info.memory,
             std::min(value.size, sizeof(value.bits)));
      found[name] = value;
    }
    return found;
  }

  // Checks the values a recorded blocking scope leaves in its user data.
  static void ExpectBlockingValues(uint32_t index, BlockingType type,
                                   int64_t opened_after_us,
                                   int64_t opened_before_us) {
    const std::map<std::string, StoredValue> values = UserDataOfRecord(index);
    ASSERT_EQ(values.size(), 2u);
    ASSERT_EQ(values.count("timestamp_us"), 1u);
    ASSERT_EQ(values.count("blocking_type"), 1u);
    const StoredValue& timestamp = values.at("timestamp_us");
    EXPECT_EQ(timestamp.type, debug::kSignedValueType);
    EXPECT_EQ(timestamp.size, 8u);
    EXPECT_GE(static_cast<int64_t>(timestamp.bits), opened_after_us);
    EXPECT_LE(static_cast<int64_t>(timestamp.bits), opened_before_us);
    const StoredValue& blocking_type = values.at("blocking_type");
    EXPECT_EQ(blocking_type.type, debug::kUnsignedValueType);
    EXPECT_EQ(blocking_type.size, 8u);
    EXPECT_EQ(blocking_type.bits, static_cast<uint64_t>(type));
  }

  static int64_t NowUs() { return MonotonicTime::Now().ToInternalValue(); }

  std::unique_ptr<uint64_t[]> memory_;
};

TEST_F(BlockingScopeActivityTest, RecordedScopeStoresItsStartAndType) {
  struct Case {
    const char* what;
    bool sync_primitives;
    BlockingType type;
  };
  const Case kCases[] = {
      {"may block", false, BlockingType::kMayBlock},
      {"will block", false, BlockingType::kWillBlock},
      {"sync wait, may block", true, BlockingType::kMayBlock},
      {"sync wait, will block", true, BlockingType::kWillBlock},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const int64_t before = NowUs();
    std::optional<ScopedBlockingCall> regular;
    std::optional<ScopedBlockingCallWithBaseSyncPrimitives> wait;
    if (c.sync_primitives) {
      wait.emplace(FROM_HERE, c.type);
    } else {
      regular.emplace(FROM_HERE, c.type);
    }
    const int64_t after = NowUs();
    ASSERT_NE(Tracker(), nullptr);
    const debug::ActivityRecord* record = Tracker()->record(0);
    EXPECT_EQ(record->kind, 0xF0);
    EXPECT_EQ(record->data, 0x11BE9915u);
    ExpectBlockingValues(0, c.type, before, after);
    regular.reset();
    wait.reset();
    // The block went back to the pool with the scope.
    EXPECT_EQ(Tracker()->record(0)->user_data_ref, 0u);
  }
}

TEST_F(BlockingScopeActivityTest, NestedScopesStoreTheTypeTheyWereOpenedWith) {
  const int64_t before = NowUs();
  ScopedBlockingCall outer(FROM_HERE, BlockingType::kWillBlock);
  const int64_t between = NowUs();
  // Will-block by inheritance, but opened as may-block.
  ScopedBlockingCallWithBaseSyncPrimitives inner(FROM_HERE,
                                                 BlockingType::kMayBlock);
  const int64_t after = NowUs();
  EXPECT_TRUE(inner.is_will_block());
  {
    // Beyond the tracker's two records: counted, nothing stored.
    ScopedBlockingCall unrecorded(FROM_HERE, BlockingType::kWillBlock);
    EXPECT_EQ(Tracker()->header()->depth.load(), 3u);
  }
  ExpectBlockingValues(0, BlockingType::kWillBlock, before, between);
  ExpectBlockingValues(1, BlockingType::kMayBlock, between, after);
}

// ---- I/O jank monitoring ----

std::vector<std::pair<int, int>>* g_reports = nullptr;

void RecordReport(int janky_intervals, int total_janks) {
  g_reports->emplace_back(janky_intervals, total_janks);
}

class JankMonitoringTest : public testing::Test {
 protected:
  void SetUp() override {
    g_reports = &reports_;
    internal::SetJankReportCallback(&RecordReport);
  }
  void TearDown() override {
    internal::SetJankReportCallback(nullptr);
    g_reports = nullptr;
  }

  static MonotonicTime At(const MonotonicTime& base, double seconds) {
    return base + Duration::FromSecondsD(seconds);
  }

  std::vector<std::pair<int, int>> reports_;
};

using internal::JankWindow;

// Keeps the delays of what is posted through it; runs nothing.
class RecordingExecutor : public TaskExecutor {
 public:
  bool PostDelayedTask(const Location& from_here, const TaskTraits& traits,
                       OneShotClosure task, Duration delay) override {
    delays.push_back(delay);
    return true;
  }
  scoped_refptr<TaskRunner> CreateTaskRunner(const TaskTraits&) override {
    return nullptr;
  }
  scoped_refptr<SequencedTaskRunner> CreateSequencedTaskRunner(
      const TaskTraits&) override {
    return nullptr;
  }
  scoped_refptr<SingleThreadTaskRunner> CreateSingleThreadTaskRunner(
      const TaskTraits&, SingleThreadTaskRunnerThreadMode) override {
    return nullptr;
  }

  std::vector<Duration> delays;
};

TEST_F(JankMonitoringTest, EachNewWindowSchedulesItsRollOverOnTheExecutor) {
  RecordingExecutor executor;
  ASSERT_EQ(ProcessWideExecutor::Set(&executor), nullptr);
  const MonotonicTime t0 = MonotonicTime::Now();
  scoped_refptr<JankWindow> first =
      JankWindow::MonitorNextJankWindowIfNecessary(t0);
  // The current window is handed out again: nothing more is posted.
  JankWindow::MonitorNextJankWindowIfNecessary(At(t0, 30));
  // Two seconds late: the next window starts on time, at 60 s, and rolls
  // over 58 s from now.
  JankWindow::MonitorNextJankWindowIfNecessary(At(t0, 62));
  ProcessWideExecutor::Set(nullptr);
  EXPECT_EQ(executor.delays,
            (std::vector<Duration>{Duration::FromSeconds(60),
                                   Duration::FromSeconds(58)}));
}

void ExitWithBackgroundPriorityUsable() {
  const char* argv[] = {"program", "--enable-background-thread-pool"};
  CommandLine::Init(2, argv);
  _exit(BackgroundPriorityUsable() ? 0 : 1);
}

TEST(BackgroundPriorityTest, SwitchMakesBackgroundThreadsUsable) {
  // In a child process: the answer is computed once per process.
  EXPECT_EXIT(ExitWithBackgroundPriorityUsable(), testing::ExitedWithCode(0),
              "");
}

TEST(JankMonitoringOffTest, NoWindowWithoutCallback) {
  EXPECT_EQ(nullptr,
            JankWindow::MonitorNextJankWindowIfNecessary(MonotonicTime::Now()));
}

TEST_F(JankMonitoringTest, LongCallSpillsIntoTheNextWindow) {
  const MonotonicTime t0 = MonotonicTime::Now();
  scoped_refptr<JankWindow> first =
      JankWindow::MonitorNextJankWindowIfNecessary(t0);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(t0, first->start_time());
  // Still current within its minute.
  EXPECT_EQ(first, JankWindow::MonitorNextJankWindowIfNecessary(At(t0, 59)));

  // 0.9 s: ignored. 2.4 s from 59.5 s: intervals 59 and 0 of the next.
  first->OnBlockingCallCompleted(At(t0, 10), At(t0, 10.9));
  first->OnBlockingCallCompleted(At(t0, 59.5), At(t0, 61.9));

  scoped_refptr<JankWindow> second =
      JankWindow::MonitorNextJankWindowIfNecessary(At(t0, 62));
  ASSERT_NE(first, second);
  EXPECT_EQ(At(t0, 60), second->start_time());
  EXPECT_TRUE(reports_.empty());
  first = nullptr;  // Its last holder: it reports.
  ASSERT_EQ(1u, reports_.size());
  EXPECT_EQ(std::make_pair(1, 1), reports_[0]);

  // Rolling on past the second window's end releases it.
  second = nullptr;
  JankWindow::MonitorNextJankWindowIfNecessary(At(t0, 121));
  ASSERT_EQ(2u, reports_.size());
  EXPECT_EQ(std::make_pair(1, 1), reports_[1]);
}

TEST_F(JankMonitoringTest, RoundsHalfAwayFromZeroAndCountsEveryCall) {
  const MonotonicTime t0 = MonotonicTime::Now();
  scoped_refptr<JankWindow> window =
      JankWindow::MonitorNextJankWindowIfNecessary(t0);
  window->OnBlockingCallCompleted(At(t0, 3.2), At(t0, 4.7));  // 1.5 -> 2.
  window->OnBlockingCallCompleted(At(t0, 3.9), At(t0, 5.3));  // 1.4 -> 1.
  window = nullptr;
  JankWindow::MonitorNextJankWindowIfNecessary(At(t0, 60));
  ASSERT_EQ(1u, reports_.size());
  // Intervals 3 (twice) and 4: two janky seconds, three janks.
  EXPECT_EQ(std::make_pair(2, 3), reports_[0]);
}

TEST_F(JankMonitoringTest, LateWindowIsNotReported) {
  const MonotonicTime t0 = MonotonicTime::Now();
  scoped_refptr<JankWindow> first =
      JankWindow::MonitorNextJankWindowIfNecessary(t0);
  first->OnBlockingCallCompleted(At(t0, 1), At(t0, 3));
  // The next minute should have begun at 60 s; it is 10.5 s late.
  scoped_refptr<JankWindow> second =
      JankWindow::MonitorNextJankWindowIfNecessary(At(t0, 70.5));
  EXPECT_EQ(At(t0, 70.5), second->start_time());
  first = nullptr;
  EXPECT_TRUE(reports_.empty());

  // Exactly 9.999999 s late is still on time.
  second->OnBlockingCallCompleted(At(t0, 71), At(t0, 72));
  scoped_refptr<JankWindow> third =
      JankWindow::MonitorNextJankWindowIfNecessary(At(t0, 140.499999));
  EXPECT_EQ(At(t0, 130.5), third->start_time());
  second = nullptr;
  ASSERT_EQ(1u, reports_.size());
  EXPECT_EQ(std::make_pair(1, 1), reports_[0]);
}

TEST_F(JankMonitoringTest, BlockingScopesFeedTheWindow) {
  const MonotonicTime start = MonotonicTime::Now();
  {
    ScopedBlockingCall slow(FROM_HERE, BlockingType::kMayBlock);
    PlatformThread::Sleep(Duration::FromMilliseconds(1100));
  }
  {
    // A sure block inside the scope is expected, not jank.
    ScopedBlockingCall outer(FROM_HERE, BlockingType::kMayBlock);
    ScopedBlockingCallWithBaseSyncPrimitives wait(FROM_HERE,
                                                  BlockingType::kMayBlock);
    PlatformThread::Sleep(Duration::FromMilliseconds(1100));
  }
  {
    // Background tasks do not count (when background threads are usable:
    // here they are not, so this one counts as well).
    internal::ScopedSetTaskPriorityForCurrentThread background(
        kLowestTaskPriority);
    EXPECT_EQ(kLowestTaskPriority, CurrentTaskPriority());
  }
  EXPECT_EQ(kHighestTaskPriority, CurrentTaskPriority());
  EXPECT_FALSE(BackgroundPriorityUsable());
  JankWindow::MonitorNextJankWindowIfNecessary(At(start, 61));
  ASSERT_EQ(1u, reports_.size());
  EXPECT_EQ(1, reports_[0].second);
}

// With "base" recording, each scope is a typed slice that names where the
// blocking call was made; the blocking call's errno still survives.
TEST(ScopedBlockingCallTracingTest, ScopeIsASliceNamingItsLocation) {
  struct Case {
    const char* slice;
    bool sync_primitives;
  };
  const Case kCases[] = {
      {"ScopedBlockingCall", false},
      {"ScopedBlockingCallWithBaseSyncPrimitives", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.slice);
    trace_event::test::TypedEventRecorder recorder;
    const Location location("ReadConfig", "agent/base/files/file_util.cc", 7,
                            nullptr);
    errno = 0;
    if (c.sync_primitives) {
      ScopedBlockingCallWithBaseSyncPrimitives scope(location,
                                                     BlockingType::kWillBlock);
      errno = ENOENT;
    } else {
      ScopedBlockingCall scope(location, BlockingType::kMayBlock);
      errno = ENOENT;
    }
    EXPECT_EQ(errno, ENOENT);

    const auto events = recorder.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].phase, 'B');
    EXPECT_EQ(events[0].name, c.slice);
    EXPECT_EQ(events[0].category, "base");
    const protozero::ProtoFieldReader event(events[0].event);
    ASSERT_NE(event.Find(33), nullptr);
    const protozero::ProtoFieldReader source(event.Find(33)->bytes);
    EXPECT_EQ(source.Find(2)->bytes, "agent/base/files/file_util.cc");
    EXPECT_EQ(source.Find(3)->bytes, "ReadConfig");
    EXPECT_EQ(events[1].phase, 'E');
    EXPECT_EQ(events[1].name, c.slice);
  }
}

TEST(ScopedBlockingCallTracingTest, NoSliceWhileBaseIsOff) {
  trace_event::test::TypedEventRecorder recorder;
  trace_event::TraceRecordingConfig config;
  config.category_filter.included_categories() = {"toplevel"};
  trace_event::TraceLog::GetInstance()->SetEnabled(
      config, trace_event::TraceLog::kRecordingMode);
  { ScopedBlockingCall scope(FROM_HERE, BlockingType::kMayBlock); }
  EXPECT_TRUE(recorder.events().empty());
}

TEST(ScopedAllowBaseSyncPrimitivesTracingTest, SliceCarriesAnInternedId) {
  trace_event::test::TypedEventRecorder recorder;
  const Location location("Shutdown", "agent/base/task/operation_gate.cc", 9,
                          nullptr);
  { ScopedAllowBaseSyncPrimitivesOutsideBlockingScope first(location); }
  { ScopedAllowBaseSyncPrimitivesOutsideBlockingScope again(location); }

  const auto events = recorder.events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].name, "ScopedAllowBaseSyncPrimitivesOutsideBlockingScope");
  EXPECT_EQ(protozero::ProtoFieldReader(events[0].event).Find(34)->varint, 1u);
  EXPECT_EQ(protozero::ProtoFieldReader(events[2].event).Find(34)->varint, 1u);
  // The location is described once, with the first slice.
  const protozero::ProtoFieldReader interned(events[0].interned_data);
  ASSERT_EQ(interned.FindAll(4).size(), 1u);
  const protozero::ProtoFieldReader entry(interned.Find(4)->bytes);
  EXPECT_EQ(entry.Find(1)->varint, 1u);
  EXPECT_EQ(entry.Find(2)->bytes, "agent/base/task/operation_gate.cc");
  EXPECT_EQ(entry.Find(3)->bytes, "Shutdown");
  EXPECT_TRUE(events[2].interned_data.empty());
}

}  // namespace
}  // namespace kelmbase
