#include "agent/base/trace_event/trace_log.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/location.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/weak_ptr.h"
#include "agent/base/pending_task.h"
#include "agent/base/process_handle.h"
#include "agent/base/strings/string_piece.h"
#include "agent/base/strings/string_split.h"
#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/system/sys_info.h"
#include "agent/base/task/thread_task_executor.h"
#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/test/log_records.h"
#include "agent/base/test/test_task_runner.h"
#include "agent/base/threading/platform_thread.h"
#include "agent/base/threading/thread.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/heap_context_tracker.h"
#include "agent/base/trace_event/heap_profiler_event_filter.h"
#include "agent/base/trace_event/memory_dump_manager.h"
#include "agent/base/trace_event/process_dump.h"
#include "agent/base/trace_event/trace_buffer.h"
#include "agent/base/trace_event/trace_macros.h"
#include "agent/base/values.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace trace_event {
namespace {

constexpr size_t kChunkSize = TraceBufferChunk::kTraceBufferChunkSize;

TraceCategory* Category(CategoryRegistry::BuiltinIndex index) {
  return CategoryRegistry::Builtin(index);
}

int32_t ThisThreadId() {
  return static_cast<int32_t>(PlatformThread::CurrentId());
}

// What a test reads back of one recorded event.
struct Recorded {
  std::string name;
  std::string category;
  char phase;
  int32_t thread_id;
  uint64_t id;
  uint64_t bind_id;
  uint32_t flags;
  int64_t duration_us;
  std::string pretty;
};

TraceEventHandle Instant(const TraceCategory* category, const char* name) {
  return EmitEvent(kPhaseInstant, category, name, nullptr, 0, nullptr, 0);
}

// The log is process-wide: each test starts from the log as it was made
// (shared chunk, buffer, filters and metadata included), whatever an earlier
// test in this process left in it, and leaves it so.
class TraceLogTest : public testing::Test {
 protected:
  void SetUp() override { log()->ResetForTesting(); }
  void TearDown() override { log()->ResetForTesting(); }

  static TraceLog* log() { return TraceLog::GetInstance(); }

  static void Start(const TraceRecordingConfig& config = {},
                    uint8_t modes = TraceLog::kRecordingMode) {
    log()->SetEnabled(config, modes);
  }

  static std::vector<Recorded> Collect() {
    std::vector<Recorded> events;
    log()->Flush([&events](const TraceEvent& event) {
      std::string pretty;
      event.AppendPrettyPrinted(&pretty);
      events.push_back(Recorded{
          event.name() != nullptr ? event.name() : "",
          event.category() != nullptr ? event.category()->category_name()
                                      : "",
          event.phase(), event.thread_id(), event.id(), event.bind_id(),
          event.flags(), event.duration().InMicroseconds(), pretty});
    });
    return events;
  }

  static std::vector<Recorded> Named(const std::vector<Recorded>& events,
                                     const std::string& name) {
    std::vector<Recorded> found;
    for (const Recorded& event : events) {
      if (event.name == name)
        found.push_back(event);
    }
    return found;
  }
};

TEST_F(TraceLogTest, NothingIsEmittedWhileRecordingIsOff) {
  int evaluated = 0;
  auto argument = [&evaluated] {
    ++evaluated;
    return 1;
  };
  {
    KELM_TRACE_EVENT1(Category(CategoryRegistry::kToplevel), "scoped", "arg",
                      argument());
    KELM_TRACE_EVENT_INSTANT1(Category(CategoryRegistry::kBase), "instant",
                              "arg", argument());
    KELM_TRACE_EVENT_OBJECT_SNAPSHOT_WITH_ID(
        Category(CategoryRegistry::kBase), "snapshot", 1,
        [&evaluated]() -> std::unique_ptr<ConvertableToTraceFormat> {
          ++evaluated;
          return nullptr;
        }());
  }
  EXPECT_EQ(evaluated, 0) << "arguments are evaluated only for a kept event";
  EXPECT_EQ(Instant(Category(CategoryRegistry::kBase), "direct"), 0u);
  EXPECT_TRUE(Collect().empty());
}

TEST_F(TraceLogTest, DefaultConfigurationSkipsDisabledByDefaultCategories) {
  Start();
  EXPECT_EQ(Category(CategoryRegistry::kToplevel)->state_bits(),
            TraceCategory::kEnabledForRecording);
  EXPECT_EQ(Category(CategoryRegistry::kDisabledByDefaultLifecycles)
                ->state_bits(),
            0);
  EXPECT_NE(Instant(Category(CategoryRegistry::kToplevel), "kept"), 0u);
  EXPECT_EQ(Instant(Category(CategoryRegistry::kDisabledByDefaultLifecycles),
                    "dropped"),
            0u);
  log()->SetDisabled(TraceLog::kRecordingMode);
  EXPECT_EQ(Category(CategoryRegistry::kToplevel)->state_bits(), 0);

  const std::vector<Recorded> events = Collect();
  ASSERT_EQ(Named(events, "kept").size(), 1u);
  EXPECT_EQ(Named(events, "kept")[0].category, "toplevel");
  EXPECT_EQ(Named(events, "kept")[0].thread_id, ThisThreadId());
  EXPECT_TRUE(Named(events, "dropped").empty());

  // Stopping writes the metadata.
  const std::vector<Recorded> cpus = Named(events, "num_cpus");
  ASSERT_EQ(cpus.size(), 1u);
  EXPECT_EQ(cpus[0].phase, 'M');
  EXPECT_EQ(cpus[0].category, "__metadata");
  EXPECT_EQ(cpus[0].thread_id, 0);
  EXPECT_EQ(cpus[0].pretty, "num_cpus[__metadata], {number:" +
                                std::to_string(GetProcessorCount()) + "}");
  EXPECT_TRUE(Named(events, "trace_buffer_overflowed").empty());
}

TEST_F(TraceLogTest, IncludedCategoriesOnly) {
  TraceRecordingConfig config;
  config.category_filter.included_categories() = {"toplevel"};
  Start(config);
  EXPECT_NE(Instant(Category(CategoryRegistry::kToplevel), "kept"), 0u);
  EXPECT_EQ(Instant(Category(CategoryRegistry::kBase), "dropped"), 0u);
  TraceCategory* added = log()->GetCategoryState("toplevel.added");
  EXPECT_EQ(added->state_bits(), 0) << "a new entry gets the current state";
  TraceCategory* added_enabled = log()->GetCategoryState("top*level");
  EXPECT_EQ(added_enabled->state_bits(), 0);
}

size_t DumpProviderCount() {
  return MemoryDumpManager::GetInstance()->GetRegistrations().size();
}

// The 65th event of a thread takes a new chunk, both with a thread-local
// buffer (a thread that runs tasks) and through the shared chunk.
TEST_F(TraceLogTest, SixtyFifthEventTakesANewChunk) {
  for (bool with_task_runner : {false, true}) {
    SCOPED_TRACE(with_task_runner ? "own chunk" : "shared chunk");
    Start();
    std::vector<TraceEventHandle> handles;
    std::thread thread([&handles, with_task_runner] {
      std::unique_ptr<ThreadTaskExecutor> executor;
      if (with_task_runner)
        executor = std::make_unique<ThreadTaskExecutor>();
      for (size_t i = 0; i <= kChunkSize; ++i)
        handles.push_back(Instant(Category(CategoryRegistry::kBase), "e"));
      EXPECT_EQ(DumpProviderCount(), with_task_runner ? 2u : 1u)
          << "a thread's own buffer reports its memory";
    });
    thread.join();
    for (size_t i = 1; i < kChunkSize; ++i)
      EXPECT_EQ(HandleChunkSeq(handles[i]), HandleChunkSeq(handles[0]));
    EXPECT_EQ(HandleEventIndex(handles[kChunkSize - 1]), 63u);
    EXPECT_NE(HandleChunkSeq(handles[kChunkSize]), HandleChunkSeq(handles[0]));
    EXPECT_NE(HandleChunkSeq(handles[kChunkSize]), 0u);
    EXPECT_EQ(HandleEventIndex(handles[kChunkSize]), 0u);
    EXPECT_EQ(DumpProviderCount(), 1u)
        << "only the log itself once the thread has ended";

    log()->SetDisabled(TraceLog::kRecordingMode);
    EXPECT_EQ(Named(Collect(), "e").size(), kChunkSize + 1)
        << "the thread's last chunk is handed back when it ends";
  }
}

// A runner handle alone does not make a thread one that runs tasks: without
// a CurrentThread its events go to the shared chunk, where they are
// readable while the thread still lives.
TEST_F(TraceLogTest, ThreadWithoutCurrentThreadUsesTheSharedChunk) {
  Start();
  WaitableEvent emitted;
  WaitableEvent collected;
  std::thread thread([&emitted, &collected] {
    ThreadTaskRunnerHandle handle(MakeRefCounted<test::TestTaskRunner>());
    Instant(Category(CategoryRegistry::kBase), "shared");
    EXPECT_EQ(DumpProviderCount(), 1u) << "no buffer of its own";
    emitted.Signal();
    collected.Wait();
  });
  emitted.Wait();
  const std::vector<Recorded> events = Collect();
  collected.Signal();
  thread.join();
  ASSERT_EQ(Named(events, "shared").size(), 1u);
  EXPECT_NE(Named(events, "shared")[0].thread_id, ThisThreadId());
}

// A thread's own chunk goes back to the buffer when the thread's task
// machinery is destroyed, not only when the thread ends: a thread that
// outlives its executor has its events readable from then on, and its later
// events go to the shared chunk.
TEST_F(TraceLogTest, ChunkIsHandedBackWhenTheTaskMachineryIsDestroyed) {
  Start();
  WaitableEvent executor_gone;
  WaitableEvent first_collected;
  WaitableEvent emitted_after;
  WaitableEvent second_collected;
  int32_t thread_id = 0;
  std::thread thread([&] {
    thread_id = ThisThreadId();
    auto executor = std::make_unique<ThreadTaskExecutor>();
    for (int i = 0; i < 3; ++i)
      Instant(Category(CategoryRegistry::kBase), "own");
    EXPECT_EQ(DumpProviderCount(), 2u);
    executor.reset();
    EXPECT_EQ(DumpProviderCount(), 1u)
        << "the buffer went with the task machinery";
    executor_gone.Signal();
    first_collected.Wait();

    Instant(Category(CategoryRegistry::kBase), "after");
    EXPECT_EQ(DumpProviderCount(), 1u) << "no new buffer without the machinery";
    emitted_after.Signal();
    second_collected.Wait();
  });

  executor_gone.Wait();
  std::vector<Recorded> events = Collect();
  first_collected.Signal();
  const std::vector<Recorded> own = Named(events, "own");
  ASSERT_EQ(own.size(), 3u) << "readable while the thread still runs";
  for (const Recorded& event : own)
    EXPECT_EQ(event.thread_id, thread_id);

  emitted_after.Wait();
  events = Collect();
  second_collected.Signal();
  thread.join();
  ASSERT_EQ(Named(events, "after").size(), 1u);
  EXPECT_EQ(Named(events, "after")[0].thread_id, thread_id);
}

// A worker Thread that recorded events and is then stopped: its last,
// partly filled chunk is handed back and every event is readable.
TEST_F(TraceLogTest, StoppedWorkerThreadHandsItsChunkBack) {
  Start();
  Thread worker("TraceWorker");
  ASSERT_TRUE(worker.Start());
  constexpr int kEvents = 10;
  for (int i = 0; i < kEvents; ++i) {
    worker.GetTaskRunner()->PostTask(FROM_HERE, BindOneShot([] {
                                       KELM_TRACE_EVENT0(
                                           Category(CategoryRegistry::kBase),
                                           "worker_task");
                                     }));
  }
  const int32_t worker_id = static_cast<int32_t>(worker.GetThreadId());
  worker.Stop();
  EXPECT_EQ(DumpProviderCount(), 1u);

  const std::vector<Recorded> events = Named(Collect(), "worker_task");
  ASSERT_EQ(events.size(), static_cast<size_t>(kEvents));
  for (const Recorded& event : events) {
    EXPECT_EQ(event.thread_id, worker_id);
    EXPECT_EQ(event.phase, kPhaseComplete);
    EXPECT_GE(event.duration_us, 0) << "closed before the chunk went back";
  }
  EXPECT_EQ(log()->GetThreadNames(worker_id), "TraceWorker");
}

TEST_F(TraceLogTest, FullBufferStopsRecordingAndRecordsTheOverflow) {
  TraceRecordingConfig config;
  config.buffer_size_in_events = 2 * kChunkSize;  // A vector of 2 chunks.
  Start(config);
  for (size_t i = 0; i < kChunkSize; ++i)
    Instant(Category(CategoryRegistry::kBase), "fill");
  EXPECT_TRUE(log()->overflow_timestamp().is_null());

  // This one takes the second, last chunk.
  EXPECT_NE(Instant(Category(CategoryRegistry::kBase), "last"), 0u);
  EXPECT_EQ(log()->enabled_modes(), 0);
  const MonotonicTime overflowed_at = log()->overflow_timestamp();
  EXPECT_FALSE(overflowed_at.is_null());
  EXPECT_EQ(Instant(Category(CategoryRegistry::kBase), "after"), 0u);

  // Recording again into the same buffer, which is still full: the next
  // chunk it hands out stops recording again, but the overflow time stays
  // the first one.
  PlatformThread::Sleep(Duration::FromMilliseconds(2));
  Start(config);
  size_t refills = 0;
  while (log()->enabled_modes() != 0 && refills <= 2 * kChunkSize) {
    Instant(Category(CategoryRegistry::kBase), "refill");
    ++refills;
  }
  EXPECT_EQ(log()->enabled_modes(), 0);
  EXPECT_EQ(log()->overflow_timestamp().ToInternalValue(),
            overflowed_at.ToInternalValue());

  const std::vector<Recorded> events = Collect();
  EXPECT_EQ(Named(events, "fill").size(), kChunkSize);
  EXPECT_EQ(Named(events, "last").size(), 1u)
      << "the event that took the last chunk is kept";
  EXPECT_TRUE(Named(events, "after").empty());
  EXPECT_EQ(Named(events, "refill").size(), refills);
  EXPECT_EQ(Named(events, "num_cpus").size(), 2u) << "one per stop";
  const std::vector<Recorded> overflow =
      Named(events, "trace_buffer_overflowed");
  ASSERT_EQ(overflow.size(), 2u);
  for (const Recorded& event : overflow) {
    EXPECT_EQ(event.pretty,
              "trace_buffer_overflowed[__metadata], {overflowed_at_ts:" +
                  std::to_string(overflowed_at.ToInternalValue()) + "}");
    EXPECT_EQ(event.thread_id, ThisThreadId());
    EXPECT_EQ(event.phase, 'M');
    EXPECT_EQ(event.flags, 0u);
  }
}

// A ring whose every chunk is held by threads has none to give: an event
// that needs a chunk then is dropped (handle 0) and nothing of it is
// stored, whether it came through the shared chunk or a thread's own.
TEST_F(TraceLogTest, EventIsDroppedWhileEveryRingChunkIsOut) {
  TraceRecordingConfig config;
  config.record_mode = kRecordContinuously;
  config.buffer_size_in_events = kChunkSize;  // A ring of 1 chunk.
  for (bool own_chunk : {false, true}) {
    SCOPED_TRACE(own_chunk ? "own chunk" : "shared chunk");
    Start(config);
    WaitableEvent holding;
    WaitableEvent release;
    std::thread holder([&holding, &release] {
      ThreadTaskExecutor executor;
      EXPECT_NE(Instant(Category(CategoryRegistry::kBase), "held"), 0u);
      holding.Signal();
      release.Wait();
    });
    holding.Wait();
    TraceEventHandle dropped = 1;
    if (own_chunk) {
      std::thread emitter([&dropped] {
        ThreadTaskExecutor executor;
        dropped = Instant(Category(CategoryRegistry::kBase), "dropped");
      });
      emitter.join();
    } else {
      // This thread runs no tasks: it uses the shared chunk.
      dropped = Instant(Category(CategoryRegistry::kBase), "dropped");
    }
    EXPECT_EQ(dropped, 0u);
    release.Signal();
    holder.join();  // Its chunk goes back to the ring.

    // Read while still recording: stopping would write the metadata into
    // the ring's only chunk, over what it holds.
    const std::vector<Recorded> events = Collect();
    EXPECT_EQ(Named(events, "held").size(), 1u);
    EXPECT_TRUE(Named(events, "dropped").empty());
    log()->SetDisabled(TraceLog::kRecordingMode);
    Collect();
  }
}

// Stopping writes the process's and the threads' sort indexes and labels
// as metadata events; a zero index and an empty label list write nothing.
TEST_F(TraceLogTest, StoppingWritesProcessAndThreadMetadata) {
  struct Expected {
    const char* name;
    int32_t thread_id;
    std::string pretty;
  };
  struct Round {
    int process_sort_index;
    std::map<int, std::string> labels;
    std::map<int32_t, int> thread_sort_indexes;
    std::vector<Expected> expected;
  };
  const Round kRounds[] = {
      {0, {}, {{4321, 0}}, {}},
      {-3,
       {{2, "second"}, {1, "first"}},
       {{1234, 5}, {4321, 0}},
       {{"process_sort_index", ThisThreadId(),
         "process_sort_index[__metadata], {sort_index:-3}"},
        {"process_labels", ThisThreadId(),
         "process_labels[__metadata], {labels:\"first,second\"}"},
        {"thread_sort_index", 1234,
         "thread_sort_index[__metadata], {sort_index:5}"}}},
  };
  for (const Round& round : kRounds) {
    SCOPED_TRACE(round.process_sort_index);
    log()->SetProcessSortIndex(round.process_sort_index);
    for (const auto& label : round.labels)
      log()->SetProcessLabel(label.first, label.second);
    for (const auto& index : round.thread_sort_indexes)
      log()->SetThreadSortIndex(index.first, index.second);
    Start();
    log()->SetDisabled(TraceLog::kRecordingMode);
    const std::vector<Recorded> events = Collect();

    for (const char* name :
         {"process_sort_index", "process_labels", "thread_sort_index"}) {
      std::vector<Expected> expected;
      for (const Expected& e : round.expected) {
        if (std::string(e.name) == name)
          expected.push_back(e);
      }
      const std::vector<Recorded> found = Named(events, name);
      ASSERT_EQ(found.size(), expected.size()) << name;
      for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].pretty, expected[i].pretty);
        EXPECT_EQ(found[i].thread_id, expected[i].thread_id) << name;
        EXPECT_EQ(found[i].phase, 'M') << name;
        EXPECT_EQ(found[i].category, "__metadata") << name;
        EXPECT_EQ(found[i].flags, 0u) << name;
      }
    }
  }
}

// Stopping recording because the buffer is full tells the observers with
// the main lock released. Another thread may fill the shared chunk in that
// window; the event that stopped recording must then take a new chunk
// instead of a slot past the end of the full one.
TEST_F(TraceLogTest, EventAfterBufferFullCheckNeverTakesAFullChunk) {
  TraceRecordingConfig config;
  config.buffer_size_in_events = 2 * kChunkSize;

  class Refiller : public TraceLog::EnabledStateObserver {
   public:
    explicit Refiller(const TraceRecordingConfig& config) : config_(config) {}
    void OnTraceLogDisabled() override {
      if (done_)
        return;
      done_ = true;
      TraceLog::GetInstance()->SetEnabled(config_, TraceLog::kRecordingMode);
      // The shared chunk holds the two metadata events; fill the rest.
      std::thread filler([] {
        for (size_t i = 0; i < kChunkSize - 2; ++i)
          Instant(Category(CategoryRegistry::kBase), "filler");
      });
      filler.join();
    }

   private:
    const TraceRecordingConfig config_;
    bool done_ = false;
  } refiller(config);

  Start(config);
  for (size_t i = 0; i < kChunkSize; ++i)
    Instant(Category(CategoryRegistry::kBase), "fill");
  log()->AddEnabledStateObserver(&refiller);
  const TraceEventHandle handle =
      Instant(Category(CategoryRegistry::kBase), "stopper");
  log()->RemoveEnabledStateObserver(&refiller);
  EXPECT_NE(handle, 0u);
  bool found = log()->VisitEventByHandle(handle, [](const TraceEvent& event) {
    EXPECT_STREQ(event.name(), "stopper");
  });
  EXPECT_TRUE(found);

  log()->SetDisabled(TraceLog::kRecordingMode);
  const std::vector<Recorded> events = Collect();
  EXPECT_EQ(Named(events, "fill").size(), kChunkSize);
  EXPECT_EQ(Named(events, "filler").size(), kChunkSize - 2);
  EXPECT_EQ(Named(events, "stopper").size(), 1u);
}

TEST_F(TraceLogTest, ClosingARecycledEventChangesNothing) {
  TraceRecordingConfig config;
  config.record_mode = kRecordContinuously;
  config.buffer_size_in_events = 2 * kChunkSize;  // A ring of 2 chunks.
  Start(config);
  TraceArgumentSet no_args;
  const TraceEventHandle complete =
      EmitEvent(kPhaseComplete, Category(CategoryRegistry::kBase), "complete",
                nullptr, 0, &no_args, 0);
  ASSERT_NE(complete, 0u);
  // Enough to wrap around and reuse the first chunk.
  for (size_t i = 0; i < 2 * kChunkSize + 1; ++i)
    Instant(Category(CategoryRegistry::kBase), "wrap");
  EXPECT_FALSE(log()->VisitEventByHandle(complete, [](const TraceEvent&) {}));
  CloseEventDuration(Category(CategoryRegistry::kBase), "complete", complete);

  for (const Recorded& event : Collect()) {
    EXPECT_NE(event.name, "complete");
    EXPECT_EQ(event.duration_us, -1) << "no slot was closed by mistake";
  }
}

TEST_F(TraceLogTest, CompleteEventIsClosedThroughItsHandle) {
  Start();
  {
    KELM_TRACE_EVENT1(Category(CategoryRegistry::kToplevel), "scope",
                      "queue", "default_tq");
    PlatformThread::Sleep(Duration::FromMilliseconds(2));
  }
  const std::vector<Recorded> events = Named(Collect(), "scope");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].phase, 'X');
  EXPECT_GE(events[0].duration_us, 2000);
  EXPECT_EQ(events[0].pretty, "scope[toplevel], {queue:\"default_tq\"}");
}

TEST_F(TraceLogTest, FlowBindIdsAreMixedWithTheProcessHash) {
  const uint64_t expected_hash =
      (static_cast<uint64_t>(static_cast<int64_t>(GetCurrentProcessId())) ^
       0xcbf29ce484222325ull) *
      0x100000001b3ull;
  EXPECT_EQ(log()->process_hash(), expected_hash);

  struct Case {
    const char* name;
    uint32_t flags;
    bool mixed;
  };
  const Case kCases[] = {
      {"flow out, local", kFlagFlowOut | kFlagProcessLocalBindId, true},
      {"flow in, local", kFlagFlowIn | kFlagProcessLocalBindId, true},
      {"local only", kFlagProcessLocalBindId, false},
      {"flow out only", kFlagFlowOut, false},
  };
  Start();
  for (const Case& c : kCases) {
    EmitEventForThread(kPhaseInstant, Category(CategoryRegistry::kBase), c.name,
                       nullptr, 0, 0x1234, ThisThreadId(),
                       MonotonicTime::Now(), nullptr, c.flags);
  }
  const std::vector<Recorded> events = Collect();
  for (const Case& c : kCases) {
    const std::vector<Recorded> found = Named(events, c.name);
    ASSERT_EQ(found.size(), 1u) << c.name;
    EXPECT_EQ(found[0].bind_id, c.mixed ? 0x1234 ^ expected_hash : 0x1234u)
        << c.name;
  }
}

TEST_F(TraceLogTest, ThreadNamesAccumulate) {
  Start();
  int32_t thread_id = 0;
  std::thread thread([&thread_id] {
    thread_id = ThisThreadId();
    PlatformThread::SetName("first");
    Instant(Category(CategoryRegistry::kBase), "e");
    PlatformThread::SetName("second");
    Instant(Category(CategoryRegistry::kBase), "e");
    PlatformThread::SetName("first");
    Instant(Category(CategoryRegistry::kBase), "e");
  });
  thread.join();
  EXPECT_EQ(log()->GetThreadNames(thread_id), "first,second");
}

TEST_F(TraceLogTest, EventsFromInsideTheLogAreDropped) {
  // Statics, for the capture-less hook; set here, so that a repeated run
  // starts from the same values.
  static std::atomic<int> hook_calls;
  static TraceEventHandle inner_handle;
  hook_calls = 0;
  inner_handle = 1;
  log()->SetAddTraceEventOverrideHook(
      [](TraceEvent* event, bool, TraceEventHandle* handle) {
        ++hook_calls;
        // Re-entering from inside the log must not record.
        inner_handle = Instant(Category(CategoryRegistry::kBase), "inner");
        *handle = 42;
      });
  Start();
  EXPECT_EQ(Instant(Category(CategoryRegistry::kBase), "outer"), 42u);
  log()->SetAddTraceEventOverrideHook(nullptr);
  EXPECT_EQ(hook_calls.load(), 1);
  EXPECT_EQ(inner_handle, 0u);
}

TEST_F(TraceLogTest, NewCategoryTakesTheCurrentState) {
  Start();
  TraceCategory* fresh = log()->GetCategoryState("fresh.category");
  EXPECT_EQ(fresh->state_bits(), TraceCategory::kEnabledForRecording);
  TraceCategory* hidden =
      log()->GetCategoryState("disabled-by-default-fresh.category");
  EXPECT_EQ(hidden->state_bits(), 0);
  log()->SetDisabled(TraceLog::kRecordingMode);
  EXPECT_EQ(fresh->state_bits(), 0);
}

class AsyncObserver : public TraceLog::AsyncEnabledStateObserver {
 public:
  void OnTraceLogDisabled() override { ++told; }
  int told = 0;
  WeakPtrFactory<AsyncEnabledStateObserver> weak_factory{this};
};

TEST_F(TraceLogTest, AsyncObserversAreToldOnTheirSequenceWhileTheyLive) {
  auto runner = MakeRefCounted<test::TestTaskRunner>();
  ThreadTaskRunnerHandle handle(runner);
  AsyncObserver kept;
  AsyncObserver gone;
  log()->AddAsyncEnabledStateObserver(kept.weak_factory.GetWeakPtr());
  log()->AddAsyncEnabledStateObserver(gone.weak_factory.GetWeakPtr());

  Start();
  log()->SetDisabled(TraceLog::kRecordingMode);
  EXPECT_EQ(kept.told, 0) << "told by a task, not at once";
  gone.weak_factory.InvalidateWeakPtrs();
  ASSERT_EQ(runner->NumPendingTasks(), 2u) << "one task per observer";
  PendingTask task;
  MonotonicTime next_run_time;
  while (runner->TakeReadyTask(MonotonicTime::Now(), &task, &next_run_time)) {
    EXPECT_STREQ(task.posted_from.function_name(), "SetDisabledWhileLocked");
    std::move(task.task).Run();
  }
  EXPECT_EQ(kept.told, 1);
  EXPECT_EQ(gone.told, 0);

  log()->RemoveAsyncEnabledStateObserver(&kept);
  log()->RemoveAsyncEnabledStateObserver(&gone);
  Start();
  log()->SetDisabled(TraceLog::kRecordingMode);
  runner->RunUntilIdle();
  EXPECT_EQ(kept.told, 1);
}

class EchoTest : public TraceLogTest {
 protected:
  // Runs `body` on a thread named `name` with echo recording on and
  // returns what went to standard error.
  static std::string EchoOnThread(const std::string& name,
                                  void (*body)()) {
    testing::internal::CaptureStderr();
    std::thread thread([&name, body] {
      PlatformThread::SetName(name);
      body();
    });
    thread.join();
    return testing::internal::GetCapturedStderr();
  }
};

// The echo records of the thread named `name` in `output`, each reduced to
// what follows the thread's name list and colour, with a duration written
// as " (#.### ms)" when it has exactly three decimals. Every echo record
// must be an ERROR record of the log.
std::vector<std::string> EchoTexts(const std::string& output,
                                   const std::string& name) {
  static const std::regex kPrefix("([^\x1b]*): \x1b\\[0;3[1-6]m(.*)");
  static const std::regex kDuration(" \\([0-9]+\\.[0-9]{3} ms\\)");
  std::vector<std::string> texts;
  for (const test::LogRecord& record : test::ParseLogRecords(output)) {
    std::smatch match;
    if (!std::regex_match(record.text, match, kPrefix))
      continue;
    const std::string names = match[1].str();
    const std::vector<StringPiece> pieces =
        SplitIntoPieces(names, ",", kKeepWhitespace, kWantAll);
    if (std::find(pieces.begin(), pieces.end(), StringPiece(name)) ==
        pieces.end()) {
      continue;
    }
    EXPECT_EQ(record.severity, 'E') << record.text;
    EXPECT_EQ(record.file, "trace_log.cc") << record.text;
    texts.push_back(
        std::regex_replace(match[2].str(), kDuration, " (#.### ms)"));
  }
  return texts;
}

void CompleteEventWithAnArgument() {
  KELM_TRACE_EVENT1(Category(CategoryRegistry::kToplevel), "step", "n", 3);
}

void NestedEvents() {
  KELM_TRACE_EVENT0(Category(CategoryRegistry::kToplevel), "outer");
  {
    KELM_TRACE_EVENT0(Category(CategoryRegistry::kToplevel), "inner");
    Instant(Category(CategoryRegistry::kBase), "tick");
  }
}

// Closes a complete event after its chunk was recycled.
void EventGoneBeforeItsEnd() {
  TraceArgumentSet no_args;
  const TraceEventHandle handle =
      EmitEvent(kPhaseComplete, Category(CategoryRegistry::kBase), "gone",
                nullptr, 0, &no_args, 0);
  for (size_t i = 0; i < 2 * kChunkSize + 1; ++i)
    Instant(Category(CategoryRegistry::kBase), "wrap");
  EXPECT_FALSE(TraceLog::GetInstance()->VisitEventByHandle(
      handle, [](const TraceEvent&) {}))
      << "the ring wrapped over the event";
  CloseEventDuration(Category(CategoryRegistry::kBase), "gone", handle);
  Instant(Category(CategoryRegistry::kBase), "after");
}

// A name allow-list filter for "toplevel" that keeps only events named
// `name`.
EventFilterConfig AllowOnly(const char* name) {
  EventFilterConfig allowlist("event_whitelist_predicate");
  allowlist.category_filter().included_categories() = {"toplevel"};
  Value::ListStorage names;
  names.emplace_back(name);
  Value args(Value::Type::DICTIONARY);
  args.SetKey("event_name_allowlist", Value(std::move(names)));
  allowlist.SetArgs(std::move(args));
  return allowlist;
}

TEST_F(EchoTest, EchoRecordsShowNestingAndDurations) {
  constexpr char kReset[] = "\x1b[0;m";
  std::vector<std::string> wrapped_ring = {std::string("gone[base]") + kReset};
  for (size_t i = 0; i < 2 * kChunkSize + 1; ++i)
    wrapped_ring.push_back(std::string("| wrap[base]") + kReset);
  // The end of an event that is gone: no name, its begin popped.
  wrapped_ring.push_back(std::string(" (#.### ms)") + kReset);
  wrapped_ring.push_back(std::string("after[base]") + kReset);

  struct Case {
    const char* thread_name;
    size_t buffer_size_in_events;
    bool filter_out_inner;
    void (*body)();
    std::vector<std::string> expected;
  };
  const Case kCases[] = {
      {"EchoStep",
       0,
       false,
       &CompleteEventWithAnArgument,
       {std::string("step[toplevel], {n:3}") + kReset,
        std::string("step[toplevel], {n:3} (#.### ms)") + kReset}},
      {"EchoNest",
       0,
       false,
       &NestedEvents,
       {std::string("outer[toplevel]") + kReset,
        std::string("| inner[toplevel]") + kReset,
        std::string("| | tick[base]") + kReset,
        std::string("| inner[toplevel] (#.### ms)") + kReset,
        std::string("outer[toplevel] (#.### ms)") + kReset}},
      // A ring of two chunks, wrapped while the event is open.
      {"EchoWrap", 2 * kChunkSize, false, &EventGoneBeforeItsEnd,
       wrapped_ring},
      // An event that the filters drop was never echoed: closing it echoes
      // nothing and leaves the enclosing event's begin on the stack.
      {"EchoFilter",
       0,
       true,
       &NestedEvents,
       {std::string("outer[toplevel]") + kReset,
        std::string("| tick[base]") + kReset,
        std::string("outer[toplevel] (#.### ms)") + kReset}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.thread_name);
    TraceRecordingConfig config;
    config.record_mode = kEchoToConsole;
    config.buffer_size_in_events = c.buffer_size_in_events;
    uint8_t modes = TraceLog::kRecordingMode;
    if (c.filter_out_inner) {
      config.event_filters = {AllowOnly("outer")};
      modes |= TraceLog::kFilteringMode;
    }
    Start(config, modes);
    const std::string output = EchoOnThread(c.thread_name, c.body);
    EXPECT_EQ(EchoTexts(output, c.thread_name), c.expected) << output;
    log()->SetDisabled(TraceLog::kRecordingMode | TraceLog::kFilteringMode);
    Collect();
  }
}

TEST_F(EchoTest, EachThreadNameListGetsTheNextColour) {
  TraceRecordingConfig config;
  config.record_mode = kEchoToConsole;
  Start(config);
  std::vector<int> colors;
  for (int i = 0; i < 7; ++i) {
    const std::string name = "colour" + std::to_string(i);
    const std::string text = EchoOnThread(name, [] {
      Instant(Category(CategoryRegistry::kBase), "tick");
    });
    const size_t at = text.find(name + ": \x1b[0;3");
    ASSERT_NE(at, std::string::npos) << text;
    colors.push_back(text[at + name.size() + 7] - '0');
  }
  // The log starts with no colours given: the first name gets 1, and the
  // seventh wraps around.
  EXPECT_EQ(colors, (std::vector<int>{1, 2, 3, 4, 5, 6, 1}));
}

TEST_F(TraceLogTest, EventFiltersDecideWhatIsRecorded) {
  TraceRecordingConfig config;
  EventFilterConfig heap("heap_profiler_predicate");
  heap.category_filter().included_categories() = {"skellat"};
  config.event_filters = {AllowOnly("keep"), heap};
  SetHeapContextCaptureMode(HeapContextCaptureMode::kPseudoStack);
  Start(config, TraceLog::kRecordingMode | TraceLog::kFilteringMode);

  TraceCategory* toplevel = Category(CategoryRegistry::kToplevel);
  EXPECT_EQ(toplevel->state_bits(), TraceCategory::kEnabledForRecording |
                                        TraceCategory::kEnabledForFiltering);
  EXPECT_EQ(toplevel->filters(), 1u);
  EXPECT_EQ(Category(CategoryRegistry::kSkellat)->filters(), 2u);
  EXPECT_EQ(Category(CategoryRegistry::kBase)->filters(), 0u);

  EXPECT_NE(Instant(toplevel, "keep"), 0u);
  EXPECT_EQ(Instant(toplevel, "drop"), 0u);
  EXPECT_NE(Instant(Category(CategoryRegistry::kBase), "drop"), 0u)
      << "a category no filter watches is not filtered";

  HeapContextTracker* tracker = HeapContextTracker::ForCurrentThread();
  {
    KELM_TRACE_EVENT0(Category(CategoryRegistry::kSkellat), "profiled");
    ASSERT_EQ(tracker->pseudo_stack().size(), 1u);
    EXPECT_STREQ(
        static_cast<const char*>(tracker->pseudo_stack()[0].value),
        "profiled");
  }
  EXPECT_TRUE(tracker->pseudo_stack().empty()) << "closing pops the frame";
  SetHeapContextCaptureMode(HeapContextCaptureMode::kDisabled);

  const std::vector<Recorded> events = Collect();
  EXPECT_EQ(Named(events, "keep").size(), 1u);
  EXPECT_EQ(Named(events, "drop").size(), 1u);
  EXPECT_EQ(Named(events, "profiled").size(), 1u);
}

using TraceLogDeathTest = TraceLogTest;

TEST_F(TraceLogDeathTest, UnknownFilterPredicate) {
  TraceRecordingConfig config;
  config.event_filters = {EventFilterConfig("nonsense_predicate")};
  EXPECT_DEATH(TraceLog::GetInstance()->SetEnabled(config,
                                                   TraceLog::kFilteringMode),
               "Check failed: new_filter Unknown trace filter "
               "nonsense_predicate\n");
}

TEST_F(TraceLogDeathTest, AllowlistWithoutItsList) {
  TraceRecordingConfig config;
  config.event_filters = {EventFilterConfig("event_whitelist_predicate")};
  // The record names the condition exactly and ends there.
  EXPECT_DEATH(
      TraceLog::GetInstance()->SetEnabled(config, TraceLog::kFilteringMode),
      "Check failed: filter_config\\.GetArgAsSet\\("
      "\"event_name_allowlist\", &\\*whitelist\\)\n");
}

TEST_F(TraceLogTest, MemoryDumpCountsTheBuffer) {
  Start();
  Instant(Category(CategoryRegistry::kBase), "e");
  EXPECT_TRUE(MemoryDumpManager::GetInstance()->IsRegistered(log()));
  ProcessDump dump(0, 1, /*level_of_detail=*/2);
  EXPECT_TRUE(log()->WriteMemoryDump(MemoryDumpArgs{2}, &dump));
  const AllocatorDump* buffer =
      dump.GetAllocatorDump("tracing/main_trace_log/TraceBuffer");
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->FindEntry("object_count")->value_uint64, 1u);
  EXPECT_NE(dump.GetAllocatorDump("tracing/main_trace_log/(Other)"), nullptr);
  EXPECT_NE(
      dump.GetAllocatorDump("tracing/main_trace_log/TraceEventMemoryOverhead"),
      nullptr);
}

TEST(TraceLogBufferTest, SizesFollowTheRecordMode) {
  struct Case {
    const char* label;
    int record_mode;
    size_t buffer_size_in_events;
    size_t capacity_in_chunks;
    bool ring;
  };
  const Case kCases[] = {
      {"default", kRecordUntilFull, 0, 4000, false},
      {"default, sized", kRecordUntilFull, 640, 10, false},
      {"continuous", kRecordContinuously, 0, 1000, true},
      {"continuous, below a chunk", kRecordContinuously, 63, 1000, true},
      {"continuous, sized", kRecordContinuously, 128, 2, true},
      {"echo", kEchoToConsole, 0, 256, true},
      {"echo and continuous", kEchoToConsole | kRecordContinuously, 0, 1000,
       true},
      {"as much as possible", kRecordAsMuchAsPossible, 0, 8000000, false},
  };
  for (const Case& c : kCases) {
    TraceRecordingConfig config;
    config.record_mode = c.record_mode;
    config.buffer_size_in_events = c.buffer_size_in_events;
    std::unique_ptr<TraceBuffer> buffer = TraceLog::CreateTraceBuffer(config);
    EXPECT_EQ(buffer->Capacity(), c.capacity_in_chunks * kChunkSize)
        << c.label;
    size_t index;
    auto chunk = buffer->GetChunk(&index);
    buffer->ReturnChunk(index, std::move(chunk));
    // Only a ring can never be full; a vector of one chunk would be.
    EXPECT_FALSE(buffer->IsFull()) << c.label;
  }
}

using AttributionContextTest = TraceLogTest;

TEST_F(AttributionContextTest, EntersAndLeavesOnlyWhileEnabled) {
  const AttributionContext context{Category(CategoryRegistry::kBase), "ctx",
                                   "scope", 5};
  context.Enter();  // Off: nothing.
  log()->SetEnabled(TraceRecordingConfig(), TraceLog::kRecordingMode);
  context.Enter();
  context.Leave();
  log()->SetDisabled(TraceLog::kRecordingMode);
  std::vector<char> phases;
  log()->Flush([&phases](const TraceEvent& event) {
    if (std::string(event.name()) == "ctx") {
      phases.push_back(event.phase());
      EXPECT_EQ(event.id(), 5u);
      EXPECT_EQ(event.flags(), kFlagHasId);
      EXPECT_STREQ(event.scope(), "scope");
    }
  });
  EXPECT_EQ(phases, (std::vector<char>{'(', ')'}));
}

}  // namespace
}  // namespace trace_event
}  // namespace kelmbase
