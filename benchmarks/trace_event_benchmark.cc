// The trace macros' two costs.
//
// Disabled category: what every instrumented site pays in this program,
// where nothing records. The peer is a call of an empty function that the
// compiler may not inline, so that the call is really made: an inlined
// empty function would cost nothing at all to compare with. Target: within
// 1.5x of it (one byte load and a branch).
//
// Recording: one complete event stored into the calling thread's own
// 64-event chunk, against pushing a record of the same fields as the event
// stores (the two clocks, the open duration, the instruction count, scope,
// id, category, name, argument count, thread id, flags, bind id, phase)
// onto a mutex-protected std::vector. Both read the same two clocks, once
// each. The trace log records into a ring buffer so that it never fills and
// its chunks, made once, are recycled in place; the vector is reserved once
// at the same size and cleared when it is reached, so neither allocates in
// the steady state. Target: no slower.

#include <cstdint>
#include <mutex>
#include <vector>

#include "agent/base/task/thread_task_executor.h"
#include "agent/base/threading/platform_thread.h"
#include "agent/base/time/time.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_log.h"
#include "agent/base/trace_event/trace_macros.h"
#include "benchmark/benchmark.h"
#include "benchmarks/ratio.h"

namespace {

using kelmbase::trace_event::CategoryRegistry;
using kelmbase::trace_event::TraceCategory;

TraceCategory* DisabledCategory() {
  return CategoryRegistry::Builtin(
      CategoryRegistry::kDisabledByDefaultSequenceManagerDebug);
}

__attribute__((noinline)) void EmptyFunction() {
  asm volatile("");
}

void BM_TraceMacroDisabledCategory(benchmark::State& state) {
  TraceCategory* category = DisabledCategory();
  benchmark::DoNotOptimize(category);
  for (auto _ : state) {
    KELM_TRACE_EVENT0(category, "SequenceManagerImpl::SelectNextTask");
  }
}
BENCHMARK(BM_TraceMacroDisabledCategory);

void BM_EmptyFunctionCall(benchmark::State& state) {
  for (auto _ : state) {
    EmptyFunction();
  }
}
BENCHMARK(BM_EmptyFunctionCall);

const kelm_bench::RatioRegistration kDisabledRatio(
    "disabled trace macro/empty call", "BM_TraceMacroDisabledCategory",
    "BM_EmptyFunctionCall");

// Small enough that the ring is recycled for most of the run: the steady
// state, not the first allocation of each chunk, is what is measured.
constexpr size_t kRingChunks = 16;
constexpr size_t kRingEvents = kRingChunks * 64;

void BM_TraceCompleteEventIntoThreadChunk(benchmark::State& state) {
  using kelmbase::trace_event::TraceLog;
  // A thread that runs tasks gets its own chunk.
  kelmbase::ThreadTaskExecutor executor;
  kelmbase::trace_event::TraceRecordingConfig config;
  config.record_mode = kelmbase::trace_event::kRecordContinuously;
  config.buffer_size_in_events = kRingEvents;
  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(config, TraceLog::kRecordingMode);
  TraceCategory* category =
      CategoryRegistry::Builtin(CategoryRegistry::kSequenceManager);
  const int32_t thread_id =
      static_cast<int32_t>(kelmbase::PlatformThread::CurrentId());

  for (auto _ : state) {
    benchmark::DoNotOptimize(kelmbase::trace_event::EmitEventForThread(
        kelmbase::trace_event::kPhaseComplete, category, "RunTask", nullptr, 0,
        0, thread_id, kelmbase::MonotonicTime::Now(), nullptr, 0));
  }
  log->SetDisabled(TraceLog::kRecordingMode);
  log->Flush([](const kelmbase::trace_event::TraceEvent&) {});
}
BENCHMARK(BM_TraceCompleteEventIntoThreadChunk);

// What a recorded complete event holds, as a plain record.
struct PlainEvent {
  kelmbase::MonotonicTime timestamp;
  kelmbase::ThreadCpuTime thread_timestamp;
  kelmbase::Duration duration;
  kelmbase::Duration thread_duration;
  int64_t thread_instruction_count;
  int64_t thread_instruction_delta;
  const char* scope;
  uint64_t id;
  const TraceCategory* category;
  const char* name;
  uint8_t argument_count;
  int32_t thread_id;
  uint32_t flags;
  uint64_t bind_id;
  char phase;
};

void BM_MutexVectorPush(benchmark::State& state) {
  std::mutex mutex;
  std::vector<PlainEvent> events;
  events.reserve(kRingEvents);
  TraceCategory* category =
      CategoryRegistry::Builtin(CategoryRegistry::kSequenceManager);
  const int32_t thread_id =
      static_cast<int32_t>(kelmbase::PlatformThread::CurrentId());
  for (auto _ : state) {
    const PlainEvent event{kelmbase::MonotonicTime::Now(),
                           kelmbase::ThreadCpuTime::Now(),
                           kelmbase::Duration::FromMicroseconds(-1),
                           kelmbase::Duration(),
                           -1,
                           0,
                           nullptr,
                           0,
                           category,
                           "RunTask",
                           0,
                           thread_id,
                           0,
                           0,
                           'X'};
    std::lock_guard<std::mutex> hold(mutex);
    if (events.size() == kRingEvents)
      events.clear();
    events.push_back(event);
    benchmark::DoNotOptimize(events.back());
  }
}
BENCHMARK(BM_MutexVectorPush);

const kelm_bench::RatioRegistration kRecordingRatio(
    "complete event into own chunk/mutex vector push",
    "BM_TraceCompleteEventIntoThreadChunk", "BM_MutexVectorPush");

}  // namespace
