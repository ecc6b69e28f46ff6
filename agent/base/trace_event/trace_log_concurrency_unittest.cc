#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/base/task/thread_task_executor.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_log.h"
#include "agent/base/trace_event/trace_macros.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace trace_event {
namespace {

constexpr int kThreadsWithOwnChunks = 3;
constexpr int kThreadsOnTheSharedChunk = 3;
constexpr int kEventsPerThread = 2000;

// Starts from the log as it was made, whatever an earlier test in this
// process left in it, and leaves it so.
class TraceLogConcurrencyTest : public testing::Test {
 protected:
  void SetUp() override { TraceLog::GetInstance()->ResetForTesting(); }
  void TearDown() override { TraceLog::GetInstance()->ResetForTesting(); }
};

// Several threads emit into their own chunks and into the shared chunk
// while the main thread switches recording off. Afterwards every thread's
// recorded events must be a prefix of what it emitted: nothing lost in the
// middle, nothing duplicated, nothing half-written.
TEST_F(TraceLogConcurrencyTest, ThreadsEmitWhileRecordingIsSwitchedOff) {
  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(TraceRecordingConfig(), TraceLog::kRecordingMode);
  TraceCategory* base = CategoryRegistry::Builtin(CategoryRegistry::kBase);

  std::atomic<int> started{0};
  auto emitter = [&started, base](int thread_index, bool own_chunk) {
    // A thread with task machinery gets a chunk of its own; destroying the
    // machinery at the end hands the chunk back while the others emit.
    std::unique_ptr<ThreadTaskExecutor> executor;
    if (own_chunk)
      executor = std::make_unique<ThreadTaskExecutor>();
    ++started;
    for (int i = 0; i < kEventsPerThread; ++i) {
      KELM_TRACE_EVENT2(base, "concurrent", "thread", thread_index, "seq", i);
    }
  };

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreadsWithOwnChunks + kThreadsOnTheSharedChunk; ++t)
    threads.emplace_back(emitter, t, t < kThreadsWithOwnChunks);
  while (started.load() < static_cast<int>(threads.size()))
    std::this_thread::yield();
  log->SetDisabled(TraceLog::kRecordingMode);
  for (std::thread& thread : threads)
    thread.join();

  std::map<int64_t, std::vector<int64_t>> sequences;
  size_t total = 0;
  log->Flush([&sequences, &total](const TraceEvent& event) {
    if (std::string(event.name()) != "concurrent")
      return;
    ++total;
    ASSERT_EQ(event.args().size(), 2u);
    EXPECT_EQ(event.phase(), kPhaseComplete);
    // Closing needs recording still on, so a late event may stay open.
    sequences[event.args().value(0).as_int].push_back(
        event.args().value(1).as_int);
  });
  EXPECT_LE(total, static_cast<size_t>(threads.size() * kEventsPerThread));
  for (auto& [thread_index, seqs] : sequences) {
    std::sort(seqs.begin(), seqs.end());
    for (size_t i = 0; i < seqs.size(); ++i)
      ASSERT_EQ(seqs[i], static_cast<int64_t>(i)) << "thread " << thread_index;
  }
}

}  // namespace
}  // namespace trace_event
}  // namespace kelmbase
