#include "agent/base/task/sequence_manager/thread_controller_with_message_pump_impl.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/location.h"
#include "agent/base/message_pump/message_pump.h"
#include "agent/base/run_loop.h"
#include "agent/base/task/sequence_manager/run_level_stack.h"
#include "agent/base/task/sequence_manager/sequence_manager.h"
#include "agent/base/task/sequence_manager/sequence_manager_impl.h"
#include "agent/base/task/sequence_manager/task_queue.h"
#include "agent/base/task/sequence_manager/work_request_coalescer.h"
#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/test/recording_message_pump.h"
#include "agent/base/trace_event/heap_context_tracker.h"
#include "agent/base/trace_event/perfetto_standin/protozero/proto_field_reader.h"
#include "agent/base/trace_event/test/typed_event_recorder.h"
#include "agent/base/trace_event/trace_log.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {
namespace {

// One step of the coalescer protocol and what it must answer.
struct CoalescerStep {
  enum Op {
    kBind,
    kRequest,
    kStarted,
    kChecking,
    kFinishedImmediate,
    kFinishedDelayed
  } op;
  bool expected_result;  // Ignored for operations without one.
  uint32_t expected_state;
};

struct CoalescerCase {
  const char* name;
  std::vector<CoalescerStep> steps;
};

TEST(WorkRequestCoalescerTest, FollowsItsProtocol) {
  using S = CoalescerStep;
  const CoalescerCase cases[] = {
      {"request before binding is replayed once at binding",
       {{S::kRequest, true, 2}, {S::kBind, false, 6}}},
      {"binding without a request asks for nothing", {{S::kBind, true, 4}}},
      {"first request to an idle bound pump wakes it, the next do not",
       {{S::kBind, true, 4}, {S::kRequest, false, 6}, {S::kRequest, true, 6}}},
      {"requests during DoWork never wake the pump",
       {{S::kBind, true, 4},
        {S::kStarted, false, 5},
        {S::kRequest, true, 7},
        {S::kRequest, true, 7}}},
      {"a request before the delay query is dropped; DoWork may sleep",
       {{S::kBind, true, 4},
        {S::kStarted, false, 5},
        {S::kRequest, true, 7},
        {S::kChecking, false, 5},
        {S::kFinishedDelayed, true, 4}}},
      {"a request after the delay query makes DoWork run again",
       {{S::kBind, true, 4},
        {S::kStarted, false, 5},
        {S::kChecking, false, 5},
        {S::kRequest, true, 7},
        {S::kFinishedDelayed, false, 6}}},
      {"immediate work next keeps the request and runs again",
       {{S::kBind, true, 4},
        {S::kStarted, false, 5},
        {S::kChecking, false, 5},
        {S::kFinishedImmediate, false, 6},
        {S::kRequest, true, 6}}},
  };
  for (const CoalescerCase& c : cases) {
    SCOPED_TRACE(c.name);
    WorkRequestCoalescer coalescer(AssociatedThreadId::CreateUnbound());
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE(i);
      const CoalescerStep& step = c.steps[i];
      switch (step.op) {
        case S::kBind:
          EXPECT_EQ(coalescer.BindToThread(), step.expected_result);
          break;
        case S::kRequest:
          EXPECT_EQ(coalescer.RequestWork(), step.expected_result);
          break;
        case S::kStarted:
          coalescer.OnDoWorkStarted();
          break;
        case S::kChecking:
          coalescer.OnCheckingForMoreWork();
          break;
        case S::kFinishedImmediate:
          EXPECT_EQ(coalescer.OnDoWorkFinished(false), step.expected_result);
          break;
        case S::kFinishedDelayed:
          EXPECT_EQ(coalescer.OnDoWorkFinished(true), step.expected_result);
          break;
      }
      EXPECT_EQ(coalescer.state_for_testing(), step.expected_state);
    }
  }
}

TEST(RunLevelStackTest, TracksNestedTasksAndIdleLevels) {
  RunLevelStack levels;
  // Nothing happens on an empty stack.
  levels.OnTaskStarted();
  levels.OnIdle();
  levels.OnTaskEnded();
  EXPECT_EQ(levels.num_run_levels(), 0u);

  levels.OnRunLoopStarted(RunLevelStack::kSelectingNextTask);
  levels.OnTaskStarted();
  EXPECT_EQ(levels.top(), RunLevelStack::kRunningTask);
  // A native nested loop inside the task goes idle: a level of its own.
  levels.OnIdle();
  EXPECT_EQ(levels.num_run_levels(), 2u);
  EXPECT_EQ(levels.top(), RunLevelStack::kIdle);
  // A task in that nested loop, then its end.
  levels.OnTaskStarted();
  EXPECT_EQ(levels.num_run_levels(), 2u);
  levels.OnTaskEnded();
  EXPECT_EQ(levels.top(), RunLevelStack::kSelectingNextTask);
  levels.OnIdle();
  // The outer task ends: the nested idle level goes with it.
  levels.OnTaskEnded();
  EXPECT_EQ(levels.num_run_levels(), 1u);
  EXPECT_EQ(levels.top(), RunLevelStack::kSelectingNextTask);
  levels.OnRunLoopEnded();
  EXPECT_EQ(levels.num_run_levels(), 0u);
}

class ControllerTest : public testing::TestWithParam<MessagePumpType> {
 protected:
  void SetUp() override {
    manager_ = CreateUnboundSequenceManager(
        SequenceManager::Settings::Builder()
            .SetMessagePumpType(GetParam())
            .Build());
    queue_ = manager_->CreateTaskQueue(TaskQueue::Spec("default_tq"));
    manager_->SetDefaultTaskRunner(queue_->task_runner());
  }
  void TearDown() override {
    queue_ = nullptr;
    manager_.reset();
  }

  // Binds with a recording pump and returns it.
  test::RecordingMessagePump* Bind() {
    auto pump = std::make_unique<test::RecordingMessagePump>(
        MessagePump::Create(GetParam()));
    test::RecordingMessagePump* raw = pump.get();
    manager_->BindToMessagePump(std::move(pump));
    return raw;
  }

  ThreadControllerWithMessagePumpImpl* controller() {
    return static_cast<ThreadControllerWithMessagePumpImpl*>(
        static_cast<SequenceManagerImpl*>(manager_.get())->controller());
  }

  void RunUntilIdle() {
    RunLoop run_loop;
    run_loop.QuitWhenIdle();
    run_loop.Run();
  }

  std::unique_ptr<SequenceManager> manager_;
  scoped_refptr<TaskQueue> queue_;
};

// Work asked for before binding wakes the new pump once; a controller that
// nobody asked anything of leaves it asleep.
TEST_P(ControllerTest, TasksPostedBeforeBindingWakeThePumpOnceAtBinding) {
  struct Case {
    int posted_before_binding;
    int expected_wake_ups_at_binding;
  };
  const Case kCases[] = {{0, 0}, {2, 1}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.posted_before_binding);
    // A fresh unbound manager for each case.
    TearDown();
    SetUp();
    std::vector<int> ran;
    for (int i = 1; i <= c.posted_before_binding; ++i) {
      queue_->task_runner()->PostTask(
          FROM_HERE,
          BindOneShot([](std::vector<int>* r, int i) { r->push_back(i); }, &ran,
                      i));
    }
    test::RecordingMessagePump* pump = Bind();
    EXPECT_EQ(pump->schedule_work_count(), c.expected_wake_ups_at_binding);
    RunUntilIdle();
    std::vector<int> expected;
    for (int i = 1; i <= c.posted_before_binding; ++i) expected.push_back(i);
    EXPECT_EQ(ran, expected);
  }
}

TEST_P(ControllerTest, TheSameDelayedTimeTwiceReachesThePumpOnce) {
  test::RecordingMessagePump* pump = Bind();
  LazyNow lazy_now(manager_->GetTickClock());
  const MonotonicTime run_time = lazy_now.Now() + Duration::FromSeconds(5);
  controller()->SetNextDelayedDoWork(&lazy_now, run_time);
  controller()->SetNextDelayedDoWork(&lazy_now, run_time);
  EXPECT_EQ(pump->schedule_delayed_work_count(), 1);
  controller()->SetNextDelayedDoWork(&lazy_now, run_time + Duration::FromSeconds(1));
  EXPECT_EQ(pump->schedule_delayed_work_count(), 2);
}

TEST_P(ControllerTest, ARunWithATimeLimitEndsOnAnIdleQueue) {
  Bind();
  // No RunLoop: the run-loop delegate's own Run with a finite limit.
  const MonotonicTime start = MonotonicTime::Now();
  controller()->Run(/*application_tasks_allowed=*/true,
                    Duration::FromMilliseconds(30));
  const Duration took = MonotonicTime::Now() - start;
  EXPECT_GE(took, Duration::FromMilliseconds(30));
  EXPECT_LT(took, Duration::FromSeconds(10));
}

TEST_P(ControllerTest, ATimeLimitAlsoCutsTheSleepBeforeFarDelayedWork) {
  Bind();
  bool ran = false;
  queue_->task_runner()->PostDelayedTask(
      FROM_HERE, BindOneShot([](bool* r) { *r = true; }, &ran),
      Duration::FromHours(1));
  const MonotonicTime start = MonotonicTime::Now();
  controller()->Run(true, Duration::FromMilliseconds(30));
  EXPECT_LT(MonotonicTime::Now() - start, Duration::FromSeconds(10));
  EXPECT_FALSE(ran);
}

TEST_P(ControllerTest, QuitWhenIdleRunsEveryReadyTaskFirst) {
  Bind();
  int ran = 0;
  for (int i = 0; i < 5; ++i) {
    queue_->task_runner()->PostTask(FROM_HERE,
                                    BindOneShot([](int* r) { ++*r; }, &ran));
  }
  RunLoop run_loop;
  queue_->task_runner()->PostTask(
      FROM_HERE, BindOneShot(
                     [](RunLoop* loop, int* r) {
                       loop->QuitWhenIdle();
                       // Posted after the quit request: still runs.
                       ThreadTaskRunnerHandle::Get()->PostTask(
                           FROM_HERE, BindOneShot([](int* n) { ++*n; }, r));
                     },
                     &run_loop, &ran));
  run_loop.Run();
  EXPECT_EQ(ran, 6);
}

// With recording on, a task runs inside a "RunTask" span and a typed slice
// that names where it was posted.
TEST_P(ControllerTest, TaskRunIsTracedWithItsOrigin) {
  using trace_event::TraceLog;
  trace_event::test::TypedEventRecorder recorder;
  trace_event::TraceRecordingConfig config;
  config.category_filter.disabled_categories() = {
      "disabled-by-default-devtools.timeline"};
  TraceLog::GetInstance()->SetEnabled(config, TraceLog::kRecordingMode);
  Bind();
  queue_->task_runner()->PostTask(Location("Origin", "origin.cc", 4, nullptr),
                                  BindOneShot([] {}));
  RunUntilIdle();

  const auto typed = recorder.events();
  ASSERT_EQ(typed.size(), 2u);
  EXPECT_EQ(typed[0].name, "ThreadControllerImpl::RunTask");
  EXPECT_EQ(typed[0].category, "toplevel");
  EXPECT_EQ(typed[0].phase, 'B');
  EXPECT_EQ(typed[1].phase, 'E');
  const protozero::ProtoFieldReader event(typed[0].event);
  ASSERT_NE(event.Find(5), nullptr);
  const protozero::ProtoFieldReader execution(event.Find(5)->bytes);
  ASSERT_NE(execution.Find(1), nullptr);
  EXPECT_EQ(execution.Find(1)->varint, 1u);
  const protozero::ProtoFieldReader interned(typed[0].interned_data);
  ASSERT_NE(interned.Find(4), nullptr);
  const protozero::ProtoFieldReader entry(interned.Find(4)->bytes);
  EXPECT_EQ(entry.Find(1)->varint, 1u);
  EXPECT_EQ(entry.Find(2)->bytes, "origin.cc");
  EXPECT_EQ(entry.Find(3)->bytes, "Origin");

  TraceLog::GetInstance()->SetDisabled(TraceLog::kRecordingMode);
  std::vector<std::string> seen;
  int64_t run_task_duration = -1;
  TraceLog::GetInstance()->Flush([&](const trace_event::TraceEvent& event) {
    const std::string name = event.name();
    if (name == "RunTask") run_task_duration = event.duration().InMicroseconds();
    if (name == "RunTask" || name == "ThreadController active")
      seen.push_back(std::string(1, event.phase()) + " " + name);
  });
  // Active from the first selection until the loop goes idle.
  EXPECT_EQ(seen, (std::vector<std::string>{"B ThreadController active",
                                            "X RunTask",
                                            "E ThreadController active"}));
  EXPECT_GE(run_task_duration, 0);
}

// While a task runs, where it was posted is the thread's heap-profiling
// context: its file name as the task context in either capture mode, and
// its program counter as a pseudo-stack frame in the program-counter mode
// only. Both are gone after the run; with capture off nothing is pushed.
TEST_P(ControllerTest, HeapContextFollowsTheTaskInEachCaptureMode) {
  using trace_event::HeapContextCaptureMode;
  using trace_event::HeapContextTracker;
  struct Seen {
    std::string task_context;
    std::vector<HeapContextTracker::Frame> pseudo_stack;
  };
  struct Case {
    HeapContextCaptureMode mode;
    const char* expected_context;
    bool expect_program_counter;
  };
  const Case kCases[] = {
      {HeapContextCaptureMode::kDisabled, HeapContextTracker::kUntrackedTask,
       false},
      {HeapContextCaptureMode::kPseudoStack, "origin.cc", false},
      {HeapContextCaptureMode::kNativeStack, "origin.cc", true},
  };
  static const char kMarker = 0;
  const void* const program_counter = &kMarker;
  Bind();
  HeapContextTracker* tracker = HeapContextTracker::ForCurrentThread();
  for (const Case& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    trace_event::SetHeapContextCaptureMode(c.mode);
    Seen seen;
    queue_->task_runner()->PostTask(
        Location("Origin", "origin.cc", 4, program_counter),
        BindOneShot(
            [](Seen* seen) {
              const HeapContextTracker* tracker =
                  HeapContextTracker::ForCurrentThread();
              seen->task_context = tracker->task_contexts().back();
              seen->pseudo_stack = tracker->pseudo_stack();
            },
            &seen));
    RunUntilIdle();
    trace_event::SetHeapContextCaptureMode(HeapContextCaptureMode::kDisabled);

    EXPECT_EQ(seen.task_context, c.expected_context);
    if (c.expect_program_counter) {
      ASSERT_EQ(seen.pseudo_stack.size(), 1u);
      EXPECT_EQ(seen.pseudo_stack[0].kind,
                HeapContextTracker::FrameKind::kProgramCounter);
      EXPECT_EQ(seen.pseudo_stack[0].value, program_counter);
    } else {
      EXPECT_TRUE(seen.pseudo_stack.empty());
    }
    EXPECT_EQ(tracker->task_contexts().size(), 1u) << "popped after the run";
    EXPECT_TRUE(tracker->pseudo_stack().empty()) << "popped after the run";
  }
}

// The controller's work step, the refusal of a work step in a loop that
// runs no application tasks, and the idle step are complete events of
// their own categories.
TEST_P(ControllerTest, WorkAndIdleStepsAreCompleteEvents) {
  using trace_event::TraceLog;
  trace_event::TraceRecordingConfig config;
  config.category_filter.disabled_categories() = {
      "disabled-by-default-sequence_manager"};
  TraceLog::GetInstance()->SetEnabled(config, TraceLog::kRecordingMode);
  Bind();
  bool inner_ran_in_nested_loop = true;
  queue_->task_runner()->PostTask(
      FROM_HERE, BindOneShot(
                     [](bool* inner_ran_in_nested_loop) {
                       bool inner_ran = false;
                       ThreadTaskRunnerHandle::Get()->PostTask(
                           FROM_HERE,
                           BindOneShot([](bool* ran) { *ran = true; },
                                       &inner_ran));
                       // A plain nested loop runs no application tasks: its
                       // work step refuses and it goes idle at once.
                       RunLoop nested;
                       nested.QuitWhenIdle();
                       nested.Run();
                       *inner_ran_in_nested_loop = inner_ran;
                     },
                     &inner_ran_in_nested_loop));
  RunUntilIdle();
  TraceLog::GetInstance()->SetDisabled(TraceLog::kRecordingMode);
  EXPECT_FALSE(inner_ran_in_nested_loop);

  struct Recorded {
    std::string category;
    char phase;
    int64_t duration_us;
  };
  std::map<std::string, std::vector<Recorded>> recorded;
  TraceLog::GetInstance()->Flush([&](const trace_event::TraceEvent& event) {
    recorded[event.name()].push_back(Recorded{
        event.category()->category_name(), event.phase(),
        event.duration().InMicroseconds()});
  });

  struct Case {
    const char* name;
    const char* category;
  };
  const Case kCases[] = {
      {"ThreadControllerImpl::DoWork", "disabled-by-default-sequence_manager"},
      {"ThreadController: application tasks disallowed", "base"},
      {"SequenceManager::DoIdleWork", "sequence_manager"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(recorded[c.name].empty());
    for (const Recorded& event : recorded[c.name]) {
      EXPECT_EQ(event.category, c.category);
      EXPECT_EQ(event.phase, 'X');
      EXPECT_GE(event.duration_us, 0) << "closed when the step ended";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Pumps, ControllerTest,
                         testing::Values(MessagePumpType::kDefault,
                                         MessagePumpType::kIo),
                         [](const testing::TestParamInfo<MessagePumpType>& i) {
                           return i.param == MessagePumpType::kIo
                                      ? std::string("Libevent")
                                      : std::string("Default");
                         });

}  // namespace
}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
