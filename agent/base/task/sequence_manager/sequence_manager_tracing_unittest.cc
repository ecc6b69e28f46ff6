// The sequence manager's trace events, read back from the trace log (and,
// for typed events, from a recorder) with recording switched on.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/location.h"
#include "agent/base/task/sequence_manager/sequence_manager_impl.h"
#include "agent/base/task/sequence_manager/task_queue_impl.h"
#include "agent/base/task/sequence_manager/task_time_observer.h"
#include "agent/base/task/sequence_manager/test/sequence_manager_for_test.h"
#include "agent/base/task/task_annotator.h"
#include "agent/base/trace_event/perfetto_standin/protozero/proto_field_reader.h"
#include "agent/base/trace_event/test/typed_event_recorder.h"
#include "agent/base/trace_event/trace_event.h"
#include "agent/base/trace_event/trace_log.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {
namespace {

using trace_event::TraceLog;

constexpr char kManagerCategory[] = "sequence_manager";
constexpr char kDetailCategory[] = "disabled-by-default-sequence_manager";
constexpr char kDebugCategory[] = "disabled-by-default-sequence_manager.debug";
constexpr char kVerboseCategory[] =
    "disabled-by-default-sequence_manager.verbose_snapshots";
constexpr char kLifecyclesCategory[] = "disabled-by-default-lifecycles";

// What a test reads back of one recorded event.
struct Recorded {
  char phase;
  std::string name;
  std::string category;
  uint64_t id;
  uint32_t flags;
  int64_t duration_us;
  std::string pretty;
};

// The phase and name of each event, in recording order.
std::vector<std::string> Summary(const std::vector<Recorded>& events) {
  std::vector<std::string> summary;
  for (const Recorded& event : events)
    summary.push_back(std::string(1, event.phase) + " " + event.name);
  return summary;
}

uint64_t IdOf(const void* object) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(object));
}

void DoNothing() {}

// Records with the given disabled-by-default categories on (plain ones are
// on anyway) and makes the manager only then, so that its creation is
// recorded too. The thread has no task runner handle, so every event goes
// to the shared chunk in the order it was emitted.
class SequenceManagerTracingTest : public testing::Test {
 protected:
  void TearDown() override {
    env_.reset();
    TraceLog::GetInstance()->SetDisabled(TraceLog::kRecordingMode);
    TraceLog::GetInstance()->Flush([](const trace_event::TraceEvent&) {});
  }

  void StartWith(std::set<std::string> disabled_by_default) {
    trace_event::TraceRecordingConfig config;
    config.category_filter.disabled_categories() =
        std::vector<std::string>(disabled_by_default.begin(),
                                 disabled_by_default.end());
    TraceLog::GetInstance()->SetEnabled(config, TraceLog::kRecordingMode);
    env_ = std::make_unique<SequenceManagerForTest>();
  }

  // Stops recording and returns the events of `categories`.
  static std::vector<Recorded> StopAndCollect(
      const std::set<std::string>& categories) {
    TraceLog* log = TraceLog::GetInstance();
    log->SetDisabled(TraceLog::kRecordingMode);
    std::vector<Recorded> events;
    log->Flush([&events, &categories](const trace_event::TraceEvent& event) {
      const std::string category = event.category()->category_name();
      if (categories.count(category) == 0) return;
      std::string pretty;
      event.AppendPrettyPrinted(&pretty);
      events.push_back(Recorded{event.phase(), event.name(), category,
                                event.id(), event.flags(),
                                event.duration().InMicroseconds(), pretty});
    });
    return events;
  }

  SequenceManagerImpl* manager() { return env_->manager(); }
  void Advance(Duration delta) { env_->clock()->Advance(delta); }
  int Run() { return env_->controller()->RunUntilIdle(); }

  std::unique_ptr<SequenceManagerForTest> env_;
};

TEST_F(SequenceManagerTracingTest, TaskRunsInsideItsPriorityAndQueueSlices) {
  StartWith({});
  scoped_refptr<TaskQueue> queue =
      manager()->CreateTaskQueue(TaskQueue::Spec("busy"));
  queue->CreateTaskRunner(3)->PostTask(FROM_HERE, BindOneShot(&DoNothing));
  queue->task_runner()->PostTask(FROM_HERE, BindOneShot(&DoNothing));
  EXPECT_EQ(Run(), 2);

  const std::vector<Recorded> events = StopAndCollect({kManagerCategory});
  EXPECT_EQ(Summary(events),
            (std::vector<std::string>{
                "B RunNormalPriorityTask", "B busy", "E busy",
                "E RunNormalPriorityTask", "B RunNormalPriorityTask",
                "B busy", "E busy", "E RunNormalPriorityTask"}));
  ASSERT_EQ(events.size(), 8u);
  EXPECT_EQ(events[0].pretty,
            "RunNormalPriorityTask[sequence_manager], {task_type:3}");
  EXPECT_EQ(events[4].pretty,
            "RunNormalPriorityTask[sequence_manager], {task_type:0}");
  EXPECT_EQ(events[1].pretty, "busy[sequence_manager]");
}

// The manager's life and each step of a selection, in the detail category;
// the queue's size follows every post.
TEST_F(SequenceManagerTracingTest, DetailCategoryShowsLifetimeStepsAndSizes) {
  StartWith({kDetailCategory});
  const uint64_t manager_id = IdOf(manager());
  scoped_refptr<TaskQueue> queue =
      manager()->CreateTaskQueue(TaskQueue::Spec("sized"));
  queue->task_runner()->PostTask(FROM_HERE, BindOneShot(&DoNothing));
  queue->task_runner()->PostDelayedTask(FROM_HERE, BindOneShot(&DoNothing),
                                        Duration::FromMilliseconds(5));
  EXPECT_EQ(Run(), 1);
  queue = nullptr;
  env_->DestroyManager();

  const std::vector<Recorded> events = StopAndCollect({kDetailCategory});
  EXPECT_EQ(Summary(events),
            (std::vector<std::string>{
                "N SequenceManager",
                "C sized",
                "C sized",
                "X SequenceManagerImpl::SelectNextTask",
                "X SequenceManagerImpl::MoveReadyDelayedTasksToWorkQueues",
                "C sized",
                "X SequenceManagerImpl::NotifyWillProcessTaskObservers",
                "X SequenceManager.WillProcessTaskObservers",
                "X SequenceManager.QueueNotifyWillProcessTask",
                "X SequenceManagerImpl::NotifyDidProcessTaskObservers",
                "X SequenceManager.QueueOnTaskCompleted",
                "X SequenceManager.DidProcessTaskObservers",
                "X SequenceManager.QueueNotifyDidProcessTask",
                "X SequenceManagerImpl::SelectNextTask",
                "X SequenceManagerImpl::MoveReadyDelayedTasksToWorkQueues",
                "D SequenceManager",
            }));
  ASSERT_EQ(events.size(), 16u);
  for (size_t i : {size_t{0}, size_t{15}}) {
    EXPECT_EQ(events[i].id, manager_id);
    EXPECT_EQ(events[i].flags, trace_event::kFlagHasId);
  }
  // Pending tasks after each post (the immediate one, then both) and after
  // the immediate one was taken to run.
  const std::string counter = std::string("sized[") + kDetailCategory + "], ";
  EXPECT_EQ(events[1].pretty, counter + "{value:1}");
  EXPECT_EQ(events[2].pretty, counter + "{value:2}");
  EXPECT_EQ(events[5].pretty, counter + "{value:1}");
  for (size_t i = 3; i < 15; ++i) {
    if (events[i].phase != 'X') continue;
    EXPECT_GE(events[i].duration_us, 0) << events[i].name << " was closed";
  }
}

// Each selection leaves a snapshot of the manager; task lists only with
// verbose snapshots on.
TEST_F(SequenceManagerTracingTest, DebugSnapshotPerSelection) {
  for (bool verbose : {false, true}) {
    SCOPED_TRACE(verbose ? "verbose" : "plain");
    std::set<std::string> categories = {kDebugCategory};
    if (verbose) categories.insert(kVerboseCategory);
    StartWith(categories);
    scoped_refptr<TaskQueue> queue =
        manager()->CreateTaskQueue(TaskQueue::Spec("snap"));
    queue->task_runner()->PostTask(FROM_HERE, BindOneShot(&DoNothing));
    EXPECT_EQ(Run(), 1);
    const uint64_t manager_id = IdOf(manager());

    const std::vector<Recorded> events = StopAndCollect({kDebugCategory});
    ASSERT_EQ(events.size(), 2u) << "one per selection, the empty one too";
    for (const Recorded& event : events) {
      EXPECT_EQ(event.phase, 'O');
      EXPECT_EQ(event.name, "SequenceManager");
      EXPECT_EQ(event.id, manager_id);
      const std::string prefix =
          std::string("SequenceManager[") + kDebugCategory + "], {snapshot:{";
      EXPECT_EQ(event.pretty.compare(0, prefix.size(), prefix), 0)
          << event.pretty;
      EXPECT_NE(event.pretty.find("\"active_queues\""), std::string::npos);
      EXPECT_NE(event.pretty.find("\"time_domains\""), std::string::npos);
    }
    const std::string& chosen = events[0].pretty;
    const std::string& idle = events[1].pretty;
    EXPECT_NE(chosen.find("\"selected_queue\":\"snap\""), std::string::npos)
        << chosen;
    EXPECT_NE(chosen.find("\"work_queue_name\":\"immediate\""),
              std::string::npos);
    EXPECT_EQ(idle.find("\"selected_queue\""), std::string::npos) << idle;
    EXPECT_EQ(idle.find("\"work_queue_name\""), std::string::npos);
    EXPECT_EQ(chosen.find("\"immediate_work_queue\":[") != std::string::npos,
              verbose)
        << chosen;
    TearDown();
  }
}

// A timed task longer than 50 ms at nesting depth 0 is marked as long.
TEST_F(SequenceManagerTracingTest, LongTaskOverFiftyMilliseconds) {
  struct TimeObserver : TaskTimeObserver {
    void WillProcessTask(MonotonicTime) override {}
    void DidProcessTask(MonotonicTime, MonotonicTime) override {}
  };
  struct Case {
    int64_t task_us;
    bool timed;
    const char* expected;  // null: no event
  };
  const Case kCases[] = {
      {50000, true, nullptr},
      {50001, true, "LongTask[skellat], {duration:0.050001}"},
      {2000000, true, "LongTask[skellat], {duration:2.0}"},
      // Nobody asked for timings: nothing is measured.
      {60000, false, nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.task_us);
    StartWith({});
    TimeObserver observer;
    if (c.timed) manager()->AddTaskTimeObserver(&observer);
    scoped_refptr<TaskQueue> queue =
        manager()->CreateTaskQueue(TaskQueue::Spec("slow"));
    queue->task_runner()->PostTask(
        FROM_HERE, BindOneShot(
                       [](SequenceManagerForTest* env, int64_t us) {
                         env->clock()->Advance(Duration::FromMicroseconds(us));
                       },
                       env_.get(), c.task_us));
    EXPECT_EQ(Run(), 1);
    if (c.timed) manager()->RemoveTaskTimeObserver(&observer);

    const std::vector<Recorded> events = StopAndCollect({"skellat"});
    if (c.expected == nullptr) {
      EXPECT_TRUE(events.empty());
    } else {
      ASSERT_EQ(events.size(), 1u);
      EXPECT_EQ(events[0].phase, 'I');
      EXPECT_EQ(events[0].pretty, c.expected);
    }
    TearDown();
  }
}

TEST_F(SequenceManagerTracingTest, NativeWorkIsAnAsyncSliceOverTheHandle) {
  StartWith({});
  std::unique_ptr<NativeWorkHandle> handle =
      manager()->CreateNativeWorkHandle(TaskQueue::kVeryHighPriority);
  const uint64_t handle_id = IdOf(handle.get());
  handle.reset();

  const std::vector<Recorded> events = StopAndCollect({kManagerCategory});
  EXPECT_EQ(Summary(events),
            (std::vector<std::string>{"b NativeWork", "e NativeWork"}));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].pretty,
            "NativeWork[sequence_manager], {priority:\"very_high\"}");
  for (const Recorded& event : events) {
    EXPECT_EQ(event.id, handle_id);
    EXPECT_EQ(event.flags, trace_event::kFlagHasId);
  }
}

TEST_F(SequenceManagerTracingTest, ShuttingAQueueDownTracesBothLayers) {
  StartWith({});
  scoped_refptr<TaskQueue> queue =
      manager()->CreateTaskQueue(TaskQueue::Spec("gone"));
  queue->ShutdownTaskQueue();

  // The manager's scope encloses the queue's own.
  const std::vector<Recorded> events =
      StopAndCollect({kManagerCategory, "base"});
  ASSERT_EQ(Summary(events),
            (std::vector<std::string>{
                "X SequenceManagerImpl::UnregisterTaskQueue",
                "X TaskQueueImpl::UnregisterTaskQueue"}));
  EXPECT_EQ(events[0].pretty,
            "SequenceManagerImpl::UnregisterTaskQueue[sequence_manager], "
            "{queue_name:\"gone\"}");
  EXPECT_EQ(events[1].category, "base");
  for (const Recorded& event : events)
    EXPECT_GE(event.duration_us, 0) << event.name << " was closed";
}

// Only a wait that is still ahead is traced, with its length.
TEST_F(SequenceManagerTracingTest, DelayTillNextTaskTracesAPendingDelay) {
  StartWith({});
  scoped_refptr<TaskQueue> queue =
      manager()->CreateTaskQueue(TaskQueue::Spec("later"));
  queue->task_runner()->PostDelayedTask(FROM_HERE, BindOneShot(&DoNothing),
                                        Duration::FromMicroseconds(30500));
  {
    LazyNow lazy_now(env_->clock());
    EXPECT_EQ(manager()->DelayTillNextTask(&lazy_now),
              Duration::FromMicroseconds(30500));
  }
  Advance(Duration::FromMicroseconds(30500));
  {
    LazyNow lazy_now(env_->clock());
    EXPECT_EQ(manager()->DelayTillNextTask(&lazy_now), Duration());
  }

  const std::vector<Recorded> events = StopAndCollect({kManagerCategory});
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].phase, 'X');
  EXPECT_EQ(events[0].pretty,
            "RealTimeDomain::DelayTillNextTask[sequence_manager], "
            "{delay_ms:30.5}");
}

TEST_F(SequenceManagerTracingTest, MemoryReclaimIsTracedOnlyWhenDue) {
  StartWith({});
  scoped_refptr<TaskQueue> queue =
      manager()->CreateTaskQueue(TaskQueue::Spec("idle"));
  queue->task_runner()->PostDelayedTask(FROM_HERE, BindOneShot(&DoNothing),
                                        Duration::FromSeconds(100));
  Run();
  EXPECT_FALSE(manager()->OnSystemIdle());  // Not due yet.
  Advance(Duration::FromSeconds(30));
  Run();
  EXPECT_FALSE(manager()->OnSystemIdle());  // Due: reclaims.
  EXPECT_FALSE(manager()->OnSystemIdle());  // Done for 30 seconds.

  EXPECT_EQ(Summary(StopAndCollect({kManagerCategory})),
            (std::vector<std::string>{
                "X SequenceManagerImpl::MaybeReclaimMemory"}));
}

// A post that carries an IPC hash to a queue that the tracing view sees as
// disabled is reported as a typed event, with the posting location
// interned.
TEST_F(SequenceManagerTracingTest, PostToDisabledQueueIsReported) {
  trace_event::test::TypedEventRecorder recorder;
  StartWith({kLifecyclesCategory});
  scoped_refptr<TaskQueue> enabled =
      manager()->CreateTaskQueue(TaskQueue::Spec("awake"));
  scoped_refptr<TaskQueue> disabled =
      manager()->CreateTaskQueue(TaskQueue::Spec("sleepy"));
  disabled->GetTaskQueueImpl()->SetTracingViewDisabledSinceForTesting(
      env_->clock()->Now());
  Advance(Duration::FromMilliseconds(25));

  const Location poster("Poster", "poster.cc", 7, nullptr);
  const Location delayed_poster("DelayedPoster", "poster.cc", 9, nullptr);
  // Not reported: no IPC hash, or a queue that is enabled.
  disabled->task_runner()->PostTask(poster, BindOneShot(&DoNothing));
  {
    TaskAnnotator::ScopedSetIpcContext ipc("Interface", 0x1234);
    enabled->task_runner()->PostTask(poster, BindOneShot(&DoNothing));
    // Reported, immediate and delayed.
    disabled->task_runner()->PostTask(poster, BindOneShot(&DoNothing));
    Advance(Duration::FromMilliseconds(5));
    disabled->task_runner()->PostDelayedTask(
        delayed_poster, BindOneShot(&DoNothing), Duration::FromSeconds(1));
    disabled->task_runner()->PostTask(poster, BindOneShot(&DoNothing));
  }

  const std::vector<trace_event::test::TypedEventRecorder::Event> events =
      recorder.events();
  struct Expected {
    uint64_t since_disabled_ms;
    uint64_t location_iid;
    // The interned entry written with the event: {iid, file, function}.
    const char* new_function;  // null: none
  };
  const Expected kExpected[] = {
      {25, 1, "Poster"}, {30, 2, "DelayedPoster"}, {30, 1, nullptr}};
  ASSERT_EQ(events.size(), 3u);
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].phase, 'I');
    EXPECT_EQ(events[i].name, "task_posted_to_disabled_queue");
    EXPECT_EQ(events[i].category, kLifecyclesCategory);
    const protozero::ProtoFieldReader event(events[i].event);
    ASSERT_NE(event.Find(1005), nullptr);
    const protozero::ProtoFieldReader report(event.Find(1005)->bytes);
    ASSERT_TRUE(report.ok());
    ASSERT_EQ(report.fields().size(), 4u);
    EXPECT_EQ(report.Find(1)->bytes, "sleepy");
    EXPECT_EQ(report.Find(2)->varint, kExpected[i].since_disabled_ms);
    EXPECT_EQ(report.Find(3)->varint, 0x1234u);
    EXPECT_EQ(report.Find(4)->varint, kExpected[i].location_iid);

    const protozero::ProtoFieldReader interned(events[i].interned_data);
    if (kExpected[i].new_function == nullptr) {
      EXPECT_TRUE(interned.fields().empty());
      continue;
    }
    ASSERT_EQ(interned.fields().size(), 1u);
    ASSERT_EQ(interned.fields()[0].id, 4u);
    const protozero::ProtoFieldReader entry(interned.fields()[0].bytes);
    EXPECT_EQ(entry.Find(1)->varint, kExpected[i].location_iid);
    EXPECT_EQ(entry.Find(2)->bytes, "poster.cc");
    EXPECT_EQ(entry.Find(3)->bytes, kExpected[i].new_function);
  }
}

}  // namespace
}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
