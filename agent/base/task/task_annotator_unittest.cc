#include "agent/base/task/task_annotator.h"

#include <memory>

#include "agent/base/debug/activity_tracker.h"
#include "agent/base/functional/bind.h"
#include "agent/base/location.h"
#include "agent/base/pending_task.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/perfetto_standin/protozero/proto_field_reader.h"
#include "agent/base/trace_event/test/typed_event_recorder.h"
#include "agent/base/trace_event/trace_log.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

const void* Pc(uintptr_t value) {
  return reinterpret_cast<const void*>(value);
}

TEST(TaskAnnotatorTest, RunTaskRunsTheClosureAsTheCurrentTask) {
  TaskAnnotator annotator;
  const PendingTask* seen = nullptr;
  PendingTask task(FROM_HERE, BindOneShot([](const PendingTask** seen) {
                     *seen = TaskAnnotator::CurrentTask();
                   }, &seen));
  EXPECT_EQ(TaskAnnotator::CurrentTask(), nullptr);
  annotator.RunTask("test", task);
  EXPECT_EQ(seen, &task);
  EXPECT_TRUE(task.task.is_null());  // Consumed by the run.
  EXPECT_EQ(TaskAnnotator::CurrentTask(), nullptr);
}

TEST(TaskAnnotatorTest, NestedRunRestoresTheOuterTask) {
  TaskAnnotator annotator;
  const PendingTask* inner_seen = nullptr;
  const PendingTask* outer_after_inner = nullptr;
  PendingTask inner(FROM_HERE, BindOneShot([](const PendingTask** seen) {
                      *seen = TaskAnnotator::CurrentTask();
                    }, &inner_seen));
  PendingTask outer(
      FROM_HERE,
      BindOneShot(
          [](TaskAnnotator* annotator, PendingTask* inner,
             const PendingTask** after) {
            annotator->RunTask("test", *inner);
            *after = TaskAnnotator::CurrentTask();
          },
          &annotator, &inner, &outer_after_inner));
  annotator.RunTask("test", outer);
  EXPECT_EQ(inner_seen, &inner);
  EXPECT_EQ(outer_after_inner, &outer);
}

TEST(TaskAnnotatorTest, MarkQueuedOutsideATaskLeavesTheChainEmpty) {
  TaskAnnotator annotator;
  PendingTask task(FROM_HERE, OneShotClosure());
  annotator.MarkQueued("test", task, "queue");
  for (const void* pc : task.task_backtrace)
    EXPECT_EQ(pc, nullptr);
  EXPECT_FALSE(task.task_backtrace_overflow);
}

// MarkQueued called from inside a running task records the posting chain.
struct ChainCase {
  std::array<const void*, 4> parent_backtrace;
  bool parent_overflow;
  std::array<const void*, 4> expected_backtrace;
  bool expected_overflow;
};

class TaskAnnotatorChainTest : public testing::TestWithParam<ChainCase> {};

TEST_P(TaskAnnotatorChainTest, ChildInheritsTheParentsChain) {
  const ChainCase& c = GetParam();
  TaskAnnotator annotator;
  PendingTask child(FROM_HERE, OneShotClosure());
  PendingTask parent(Location("Parent", "file.cc", 1, Pc(0x100)),
                     BindOneShot(
                         [](TaskAnnotator* annotator, PendingTask* child) {
                           annotator->MarkQueued("test", *child, "queue");
                         },
                         &annotator, &child));
  parent.task_backtrace = c.parent_backtrace;
  parent.task_backtrace_overflow = c.parent_overflow;
  annotator.RunTask("test", parent);
  EXPECT_EQ(child.task_backtrace, c.expected_backtrace);
  EXPECT_EQ(child.task_backtrace_overflow, c.expected_overflow);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, TaskAnnotatorChainTest,
    testing::Values(
        ChainCase{{}, false, {Pc(0x100), nullptr, nullptr, nullptr}, false},
        ChainCase{{Pc(1), Pc(2), nullptr, nullptr},
                  false,
                  {Pc(0x100), Pc(1), Pc(2), nullptr},
                  false},
        // The parent's last entry falls off: the chain overflowed.
        ChainCase{{Pc(1), Pc(2), Pc(3), Pc(4)},
                  false,
                  {Pc(0x100), Pc(1), Pc(2), Pc(3)},
                  true},
        // An overflowed parent makes an overflowed child.
        ChainCase{{Pc(1), nullptr, nullptr, nullptr},
                  true,
                  {Pc(0x100), Pc(1), nullptr, nullptr},
                  true}));

TEST(TaskAnnotatorTest, MarkQueuedKeepsAnExistingChain) {
  TaskAnnotator annotator;
  PendingTask child(FROM_HERE, OneShotClosure());
  child.task_backtrace = {Pc(7), nullptr, nullptr, nullptr};
  PendingTask parent(Location("Parent", "file.cc", 1, Pc(0x100)),
                     BindOneShot(
                         [](TaskAnnotator* annotator, PendingTask* child) {
                           annotator->MarkQueued("test", *child, "queue");
                         },
                         &annotator, &child));
  annotator.RunTask("test", parent);
  EXPECT_EQ(child.task_backtrace[0], Pc(7));
  EXPECT_EQ(child.task_backtrace[1], nullptr);
}

TEST(TaskAnnotatorTest, MarkQueuedCopiesTheIpcContext) {
  TaskAnnotator annotator;
  PendingTask task(FROM_HERE, OneShotClosure());
  {
    TaskAnnotator::ScopedSetIpcContext outer("outer.Interface", 11);
    TaskAnnotator::ScopedSetIpcContext inner("inner.Interface", 22);
    annotator.MarkQueued("test", task, "queue");
  }
  EXPECT_STREQ(task.ipc_interface_name, "inner.Interface");
  EXPECT_EQ(task.ipc_hash, 22u);

  PendingTask later(FROM_HERE, OneShotClosure());
  annotator.MarkQueued("test", later, "queue");
  EXPECT_EQ(later.ipc_interface_name, nullptr);
  EXPECT_EQ(later.ipc_hash, 0u);
}

TEST(TaskAnnotatorTest, PlaceholderTaskDoesNotCountAsCurrent) {
  TaskAnnotator annotator;
  struct Case {
    Location location;
    int sequence_num;
    bool counts;
  } cases[] = {
      {Location(), static_cast<int>(0xF00DBAADu), false},
      {Location("Run", nullptr, 0, nullptr), static_cast<int>(0xF00DBAADu),
       false},
      {Location(nullptr, nullptr, 0, Pc(0x10)), static_cast<int>(0xF00DBAADu),
       true},
      {Location("Run", "file.cc", 3, nullptr), static_cast<int>(0xF00DBAADu),
       true},
      {Location(), 5, true},
  };
  for (const Case& c : cases) {
    const PendingTask* seen = nullptr;
    PendingTask task(c.location, BindOneShot([](const PendingTask** seen) {
                       *seen = TaskAnnotator::CurrentTask();
                     }, &seen));
    task.sequence_num = c.sequence_num;
    annotator.RunTask("test", task);
    EXPECT_EQ(seen, c.counts ? &task : nullptr) << c.sequence_num;
  }
}

// The trace log is process-wide and keeps its buffer across recording
// sessions: each test starts with recording off and nothing stored, and
// leaves it so.
class TaskAnnotatorTracingTest : public testing::Test {
 protected:
  void SetUp() override { StopAndDiscard(); }
  void TearDown() override { StopAndDiscard(); }

  static void StopAndDiscard() {
    trace_event::TraceLog* log = trace_event::TraceLog::GetInstance();
    log->SetDisabled(trace_event::TraceLog::kRecordingMode);
    log->Flush([](const trace_event::TraceEvent&) {});
  }
};

// With "toplevel.flow" recording, posting and running a task are two
// complete events bound into one flow by the task's trace id.
TEST_F(TaskAnnotatorTracingTest, PostedTaskLeavesAFlowFromPostToRun) {
  using trace_event::TraceLog;
  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(trace_event::TraceRecordingConfig(),
                  TraceLog::kRecordingMode);

  TaskAnnotator annotator;
  bool ran = false;
  PendingTask task(FROM_HERE, BindOneShot([](bool* ran) { *ran = true; },
                                          &ran));
  task.sequence_num = 7;
  annotator.MarkQueued("SequenceManager PostTask", task, "default_tq");
  annotator.RunTask("SequenceManager RunTask", task);
  EXPECT_TRUE(ran);
  log->SetDisabled(TraceLog::kRecordingMode);

  struct Seen {
    std::string name;
    char phase;
    uint32_t flags;
    uint64_t bind_id;
    int64_t duration_us;
    std::string pretty;
  };
  std::vector<Seen> seen;
  log->Flush([&seen](const trace_event::TraceEvent& event) {
    if (std::string(event.category()->category_name()) != "toplevel.flow")
      return;
    std::string pretty;
    event.AppendPrettyPrinted(&pretty);
    seen.push_back(Seen{event.name(), event.phase(), event.flags(),
                        event.bind_id(), event.duration().InMicroseconds(),
                        pretty});
  });

  const uint64_t trace_id =
      (uint64_t{7} << 32) |
      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&annotator));
  EXPECT_EQ(annotator.GetTaskTraceId(task), trace_id);
  const uint64_t bind_id = trace_id ^ log->process_hash();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].name, "SequenceManager PostTask");
  EXPECT_EQ(seen[0].phase, 'X');
  EXPECT_EQ(seen[0].flags, 0x900u);
  EXPECT_EQ(seen[0].pretty,
            "SequenceManager PostTask[toplevel.flow], "
            "{task_queue_name:\"default_tq\"}");
  EXPECT_EQ(seen[1].name, "SequenceManager RunTask");
  EXPECT_EQ(seen[1].phase, 'X');
  EXPECT_EQ(seen[1].flags, 0x880u);
  for (const Seen& event : seen) {
    EXPECT_EQ(event.bind_id, bind_id) << event.name;
    EXPECT_GE(event.duration_us, 0) << event.name << " was closed";
  }
}

TEST_F(TaskAnnotatorTracingTest, IpcSliceCarriesTheHashAndTheDelay) {
  trace_event::TraceRecordingConfig config;
  config.category_filter.disabled_categories() = {
      "disabled-by-default-toplevel.ipc"};
  trace_event::test::TypedEventRecorder recorder;
  trace_event::TraceLog::GetInstance()->SetEnabled(
      config, trace_event::TraceLog::kRecordingMode);

  TaskAnnotator annotator;
  PendingTask delayed(FROM_HERE, BindOneShot([] {}),
                      MonotonicTime::FromInternalValue(1000),
                      MonotonicTime::FromInternalValue(1250));
  delayed.ipc_hash = 0xABCD;
  annotator.RunTask("test", delayed);
  PendingTask immediate(FROM_HERE, BindOneShot([] {}));
  immediate.ipc_hash = 5;
  annotator.RunTask("test", immediate);

  const auto events = recorder.events();
  ASSERT_EQ(events.size(), 4u);
  struct Expected {
    char phase;
    uint64_t hash;
    int64_t delay;  // -1: no field
  };
  const Expected kExpected[] = {{'B', 0xABCD, 250}, {'E', 0, -1},
                                {'B', 5, -1}, {'E', 0, -1}};
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].name, "TaskAnnotator::RunTask");
    EXPECT_EQ(events[i].category, "disabled-by-default-toplevel.ipc");
    EXPECT_EQ(events[i].phase, kExpected[i].phase);
    const protozero::ProtoFieldReader event(events[i].event);
    if (kExpected[i].phase == 'E') {
      EXPECT_TRUE(event.fields().empty());
      continue;
    }
    ASSERT_NE(event.Find(1002), nullptr);
    const protozero::ProtoFieldReader execution(event.Find(1002)->bytes);
    EXPECT_EQ(execution.Find(1)->varint, kExpected[i].hash);
    if (kExpected[i].delay < 0) {
      EXPECT_EQ(execution.Find(2), nullptr);
    } else {
      ASSERT_NE(execution.Find(2), nullptr);
      EXPECT_EQ(execution.Find(2)->varint,
                static_cast<uint64_t>(kExpected[i].delay));
    }
  }
}

TEST(TaskAnnotatorTest, RunningTaskIsAnActivityWhileATrackerExists) {
  constexpr size_t kMemorySize = 32 * 1024;
  auto memory = std::make_unique<uint64_t[]>(kMemorySize / 8);
  PersistentMemoryAllocator::FormatSegment(memory.get(), kMemorySize, 0, 1);
  debug::GlobalActivityTracker::CreateWithAllocator(
      std::make_unique<PersistentMemoryAllocator>(memory.get(), kMemorySize,
                                                  0, false),
      4, 0);
  TaskAnnotator annotator;
  const Location posted_from("Post", "file.cc", 3, Pc(0x1234));
  uint8_t kind = 0;
  uint64_t origin = 0, data = 0;
  PendingTask task(posted_from, BindOneShot(
                                    [](uint8_t* kind, uint64_t* origin,
                                       uint64_t* data) {
                                      const debug::ActivityRecord* record =
                                          debug::GlobalActivityTracker::Get()
                                              ->GetTrackerForCurrentThread()
                                              ->record(0);
                                      *kind = record->kind;
                                      *origin = record->origin_address;
                                      *data = record->data;
                                    },
                                    &kind, &origin, &data));
  task.sequence_num = 17;
  annotator.RunTask("test", task);
  debug::GlobalActivityTracker::ReleaseForTesting();
  EXPECT_EQ(kind, 0x10);
  EXPECT_EQ(origin, 0x1234u);
  EXPECT_EQ(data, 17u);
}

}  // namespace
}  // namespace kelmbase
